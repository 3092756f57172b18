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
#pragma once

#include <cstddef>
#include <functional>
#include <string>

class a_job_turn {
 public:
  virtual ~a_job_turn() = default;
  virtual bool cancelled() const = 0;
  // Waits until job |index| (an earlier job) is committed; false when the
  // work stopped before it was.
  virtual bool wait_for_commit(size_t index) const = 0;
};

using PrepareJob = std::function<void(size_t index, const a_job_turn& turn)>;
using CommitJob = std::function<bool(size_t index)>;
using DiscardJob = std::function<void(size_t index)>;

// Returns the number of jobs committed: |count| when every commit succeeded.
size_t run_ordered_jobs(size_t count, unsigned workers, size_t window, const PrepareJob& prepare,
                        const CommitJob& commit, const DiscardJob& discard);

// The number of workers to use: the number of online processors, or the
// positive number in the environment variable |variable| when it holds one.
// |complaint| receives a sentence when the variable is set to anything else.
unsigned worker_count_from_environment(const char* variable, std::string* complaint);
