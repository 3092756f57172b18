// Jobs prepared on several threads and committed in order.
//
// run_ordered_jobs(count, workers, window, prepare, commit, discard):
//   prepare(i, cancelled)  runs on a worker thread, at most |window| jobs
//                          ahead of the next job to commit; jobs are taken
//                          in order, several at once;
//   commit(i)              runs on the calling thread for i = 0, 1, 2, ... in
//                          order, each once its job is prepared; false stops;
//   discard(i)             runs on the calling thread, after the workers have
//                          stopped, for every job that was prepared but will
//                          never be committed (those after the one that
//                          stopped), in ascending order.
// So whatever the number of workers, the commits and their effects come in
// the same order and stop at the same job. With one worker no thread is
// started: each job is prepared and committed in turn on the calling thread.
// Threads are woken only when someone waits for what happened, and the
// committer, when it must wait, waits for a run of jobs, so that tiny jobs
// do not cost a wake-up each; the window should leave room for several runs.
//
// A prepare sees its job's a_job_turn: cancelled() turns true once a commit
// has returned false (a long prepare may give up early: its job is then
// discarded, never committed), and wait_for_commit(k) lets a job that builds
// on an earlier one wait until that one is committed.
//
// A large job can hand parts of its work to the other workers: share(task)
// queues a part, which the next free worker runs before it takes another
// job, and wait_for(task) waits until it is done, running queued parts on
// the waiting thread meanwhile (so a job never waits for a worker that is
// busy waiting itself). The parts queued and not yet waited for are at most
// kSharedPerWorker per worker, for all jobs together: a job that cannot
// share a part does it itself. That bounds the memory the parts hold.
//
// An OrderedJobPool keeps its workers between runs: a program that runs
// jobs again and again (extractions one after another) starts its threads
// once, and whatever a worker keeps for itself stays warm.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/failure.h"

// A part of a job that may run on another worker. The job that shares it
// keeps it alive until wait_for has returned.
struct a_shared_task {
  std::function<void()> run;
  bool done = false;  // set by the pool, under its lock
};

class a_job_turn {
 public:
  // Parts shared and not yet waited for, per worker.
  static constexpr size_t kSharedPerWorker = 2;

  virtual ~a_job_turn() = default;
  virtual bool cancelled() const = 0;
  // Waits until job |index| (an earlier job) is committed; false when the
  // work stopped before it was.
  virtual bool wait_for_commit(size_t index) const = 0;
  // Whether other workers could take a shared part at all.
  virtual bool can_share() const { return false; }
  // The most parts that can be shared and not yet waited for, by all jobs.
  virtual size_t share_limit() const { return 0; }
  // Queues |task| for another worker: true when queued (then wait_for must
  // follow), false when there is no room (the caller runs it itself).
  virtual bool share(a_shared_task&) const { return false; }
  // Returns once |task|, which share() queued, has run.
  virtual void wait_for(a_shared_task&) const {}
};

using PrepareJob = std::function<void(size_t index, const a_job_turn& turn)>;
using CommitJob = std::function<bool(size_t index)>;
using DiscardJob = std::function<void(size_t index)>;

// Returns the number of jobs committed: |count| when every commit succeeded.
size_t run_ordered_jobs(size_t count, unsigned workers, size_t window, const PrepareJob& prepare,
                        const CommitJob& commit, const DiscardJob& discard);

class OrderedJobPool {
 public:
  // Starts |workers| threads, none when it is 1 or less (each job is then
  // prepared and committed in turn on the calling thread).
  explicit OrderedJobPool(unsigned workers);
  // Stops the workers; no run may be under way.
  ~OrderedJobPool();
  OrderedJobPool(const OrderedJobPool&) = delete;
  OrderedJobPool& operator=(const OrderedJobPool&) = delete;

  unsigned workers() const { return workers_; }
  // run_ordered_jobs on the pool's workers. One run at a time: no prepare,
  // commit or discard may start another on the same pool.
  size_t run(size_t count, size_t window, const PrepareJob& prepare, const CommitJob& commit,
             const DiscardJob& discard);

 private:
  struct a_crew;
  unsigned workers_;
  std::unique_ptr<a_crew> crew_;
};

// What the jobs of a run work on, made one at a time in job order as the
// workers take the jobs, from a source read forward (a walk of a million
// files), instead of made for every job before the run.
//
// The workers take job i once each, several at once, so in nearly rising
// order, and only while i lies less than the window past the first job not
// yet committed. A ring of twice the window holds the values around those
// taken: a value made need not outlive the jobs a window after it.
template <typename T>
class JobFeed {
 public:
  // |make(position, slot)| makes the value of job |position| in |slot|,
  // which holds the value of job position - ring size (or T()): jobs are
  // made in order, under the feed's lock.
  using a_maker = std::function<void(size_t position, T& slot)>;
  JobFeed(size_t window, a_maker make) : ring_(2 * std::max<size_t>(window, 1)), make_(std::move(make)) {}

  // The value of job |position|. Any thread; REQUIRES: positions taken as
  // the job pool takes jobs.
  T take(size_t position) {
    std::lock_guard<std::mutex> hold(lock_);
    for (; made_ <= position; ++made_) make_(made_, ring_[made_ % ring_.size()]);
    return ring_[position % ring_.size()];
  }
  // How many values the ring holds.
  size_t ring_size() const { return ring_.size(); }

 private:
  std::mutex lock_;
  std::vector<T> ring_;
  a_maker make_;
  size_t made_ = 0;
};

// The number of online processors, at least 1: the number of workers when
// nothing asks for another.
unsigned online_worker_count();

// The number of workers the environment variable |variable| asks for: a
// number from 1 to 1024, or online_worker_count() when it is unset; a
// failure of kStepJobCount about the variable when it holds anything else.
Result<unsigned> worker_count_from_environment(const char* variable);
