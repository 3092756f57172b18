#include "platform/ordered_jobs.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform_steps.h"

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);
// When the committer has to wait, it waits for a run of this many jobs: one
// wake-up then serves several commits, which matters when jobs are tiny.
constexpr size_t kRun = 8;

// Shared between the committer and the workers. |next| is the next job a
// worker may take; |committed| the number of jobs committed so far; a job
// is taken only while it lies less than |window| jobs ahead of |committed|.
// Threads are woken only when someone waits for what happened.
struct a_job_board {
  std::mutex lock;
  std::condition_variable job_ready;   // the committer's: its run is prepared
  std::condition_variable room_ahead;  // the workers': a job was committed, or work stopped
  size_t next = 0;
  size_t committed = 0;
  size_t count = 0;
  size_t window = 1;
  bool stopping = false;
  std::vector<char> prepared;  // one flag per job
  std::atomic<bool> cancelled{false};
  // The jobs the committer waits for, first to last; kNone when it does not.
  size_t wait_first = kNone;
  size_t wait_last = kNone;
  unsigned idle_workers = 0;    // waiting to take a job
  unsigned commit_waiters = 0;  // waiting in wait_for_commit
  unsigned preparing = 0;       // jobs being prepared, which may share parts
  // Parts of jobs queued for any worker, and those shared but not yet
  // waited for (queued, running or done).
  std::deque<a_shared_task*> shared;
  size_t shared_out = 0;
  size_t shared_limit = 0;
  std::condition_variable part_done;  // a shared part has run

  // With |lock| held: whether the committer, waiting, can go on. A job of
  // its run that waits for a commit cannot be prepared before that commit,
  // so then the first job alone will do.
  bool committer_may_go() const {
    if (prepared[wait_first] == 0) return false;
    if (commit_waiters > 0 || stopping) return true;
    for (size_t i = wait_first + 1; i <= wait_last; ++i)
      if (prepared[i] == 0) return false;
    return true;
  }
};

// Runs a shared part taken off the queue, with |hold| on the board's lock
// (released meanwhile).
void run_part(a_job_board& board, a_shared_task& task, std::unique_lock<std::mutex>& hold) {
  hold.unlock();
  task.run();
  hold.lock();
  task.done = true;
  board.part_done.notify_all();
}

class a_worker_turn : public a_job_turn {
 public:
  explicit a_worker_turn(a_job_board& board) : board_(board) {}
  bool cancelled() const override { return board_.cancelled.load(); }
  bool can_share() const override { return true; }
  size_t share_limit() const override { return board_.shared_limit; }
  bool share(a_shared_task& task) const override {
    {
      std::lock_guard<std::mutex> hold(board_.lock);
      if (board_.shared_out >= board_.shared_limit) return false;
      task.done = false;
      board_.shared.push_back(&task);
      ++board_.shared_out;
      if (board_.idle_workers == 0) return true;
    }
    board_.room_ahead.notify_all();
    return true;
  }
  void wait_for(a_shared_task& task) const override {
    std::unique_lock<std::mutex> hold(board_.lock);
    while (!task.done) {
      if (!board_.shared.empty()) {
        a_shared_task* part = board_.shared.front();
        board_.shared.pop_front();
        run_part(board_, *part, hold);
      } else {
        board_.part_done.wait(hold);
      }
    }
    --board_.shared_out;
  }
  bool wait_for_commit(size_t index) const override {
    std::unique_lock<std::mutex> hold(board_.lock);
    if (board_.committed > index) return true;
    ++board_.commit_waiters;
    if (board_.wait_first != kNone && board_.committer_may_go()) board_.job_ready.notify_one();
    board_.room_ahead.wait(hold, [&] { return board_.stopping || board_.committed > index; });
    --board_.commit_waiters;
    return board_.committed > index;
  }

 private:
  a_job_board& board_;
};

// On the calling thread every earlier job is committed before a job is
// prepared.
class a_serial_turn : public a_job_turn {
 public:
  bool cancelled() const override { return false; }
  bool wait_for_commit(size_t) const override { return true; }
};

// A worker runs the queued parts of jobs first, then takes the next job.
// Once every job is taken it stays while others prepare, to run the parts
// they share.
void work(a_job_board& board, const PrepareJob& prepare) {
  const a_worker_turn turn(board);
  for (;;) {
    size_t index;
    {
      std::unique_lock<std::mutex> hold(board.lock);
      ++board.idle_workers;
      board.room_ahead.wait(hold, [&] {
        return board.stopping || !board.shared.empty() ||
               (board.next < board.count && board.next < board.committed + board.window) ||
               (board.next >= board.count && board.preparing == 0);
      });
      --board.idle_workers;
      if (!board.shared.empty()) {
        a_shared_task* part = board.shared.front();
        board.shared.pop_front();
        run_part(board, *part, hold);
        continue;
      }
      if (board.stopping || board.next >= board.count) return;
      index = board.next++;
      ++board.preparing;
    }
    prepare(index, turn);
    bool wake_committer;
    bool wake_workers;
    {
      std::lock_guard<std::mutex> hold(board.lock);
      board.prepared[index] = 1;
      wake_committer = board.wait_first != kNone && board.committer_may_go();
      wake_workers = --board.preparing == 0 && board.next >= board.count && board.idle_workers > 0;
    }
    if (wake_committer) board.job_ready.notify_one();
    if (wake_workers) board.room_ahead.notify_all();
  }
}

// The committer's part of a run: commits jobs in order as they are
// prepared, until one fails or all are done. Returns the number committed.
size_t commit_in_order(a_job_board& board, const CommitJob& commit) {
  size_t done = 0;
  for (; done < board.count; ++done) {
    {
      std::unique_lock<std::mutex> hold(board.lock);
      if (board.prepared[done] == 0) {
        board.wait_first = done;
        // Within the window, so that every job of the run can be taken.
        board.wait_last = std::min({done + kRun, done + board.window, board.count}) - 1;
        board.job_ready.wait(hold, [&] { return board.committer_may_go(); });
        board.wait_first = board.wait_last = kNone;
      }
    }
    if (!commit(done)) break;
    bool wake;
    {
      std::lock_guard<std::mutex> hold(board.lock);
      board.committed = done + 1;
      wake = board.idle_workers > 0 || board.commit_waiters > 0;
    }
    if (wake) board.room_ahead.notify_all();
  }
  return done;
}

}  // namespace

// The pool's threads and the run they serve. A run hands every worker its
// board; it ends once each has come back from it.
struct OrderedJobPool::a_crew {
  std::mutex lock;
  std::condition_variable start;     // the workers': a run began, or the pool closes
  std::condition_variable finished;  // the runner's: every worker is back
  a_job_board* board = nullptr;
  const PrepareJob* prepare = nullptr;
  uint64_t round = 0;  // runs begun
  unsigned busy = 0;   // workers not back from the current run
  bool closing = false;
  std::vector<std::thread> threads;

  void serve() {
    uint64_t seen = 0;
    for (;;) {
      a_job_board* serving;
      const PrepareJob* preparing;
      {
        std::unique_lock<std::mutex> hold(lock);
        start.wait(hold, [&] { return closing || round != seen; });
        if (closing) return;
        seen = round;
        serving = board;
        preparing = prepare;
      }
      work(*serving, *preparing);
      std::lock_guard<std::mutex> hold(lock);
      if (--busy == 0) finished.notify_all();
    }
  }
};

OrderedJobPool::OrderedJobPool(unsigned workers) : workers_(workers < 1 ? 1 : workers) {
  if (workers_ <= 1) return;
  crew_ = std::make_unique<a_crew>();
  crew_->threads.reserve(workers_);
  for (unsigned w = 0; w < workers_; ++w) crew_->threads.emplace_back([crew = crew_.get()] { crew->serve(); });
}

OrderedJobPool::~OrderedJobPool() {
  if (!crew_) return;
  {
    std::lock_guard<std::mutex> hold(crew_->lock);
    crew_->closing = true;
  }
  crew_->start.notify_all();
  for (std::thread& t : crew_->threads) t.join();
}

size_t run_ordered_jobs(size_t count, unsigned workers, size_t window, const PrepareJob& prepare,
                        const CommitJob& commit, const DiscardJob& discard) {
  return OrderedJobPool(workers).run(count, window, prepare, commit, discard);
}

size_t OrderedJobPool::run(size_t count, size_t window, const PrepareJob& prepare, const CommitJob& commit,
                           const DiscardJob& discard) {
  if (!crew_) {
    const a_serial_turn turn;
    for (size_t i = 0; i < count; ++i) {
      prepare(i, turn);
      if (!commit(i)) return i;
    }
    return count;
  }

  a_job_board board;
  board.count = count;
  board.window = std::max<size_t>(window, 1);
  board.prepared.assign(count, 0);
  board.shared_limit = a_job_turn::kSharedPerWorker * workers_;
  {
    std::lock_guard<std::mutex> hold(crew_->lock);
    crew_->board = &board;
    crew_->prepare = &prepare;
    crew_->busy = workers_;
    ++crew_->round;
  }
  crew_->start.notify_all();
  const size_t done = commit_in_order(board, commit);
  {
    std::lock_guard<std::mutex> hold(board.lock);
    board.stopping = true;
    board.cancelled = true;
  }
  board.room_ahead.notify_all();
  {
    std::unique_lock<std::mutex> hold(crew_->lock);
    crew_->finished.wait(hold, [&] { return crew_->busy == 0; });
    crew_->board = nullptr;
    crew_->prepare = nullptr;
  }
  // Every job taken has been prepared by now; those after the one that
  // stopped are thrown away.
  for (size_t i = done + 1; i < board.next; ++i) discard(i);
  return done;
}

unsigned online_worker_count() {
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online >= 1 ? static_cast<unsigned>(online) : 1;
}

Result<unsigned> worker_count_from_environment(const char* variable) {
  const char* text = std::getenv(variable);
  if (text == nullptr) return online_worker_count();
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (*text >= '1' && *text <= '9' && end != nullptr && *end == '\0' && value <= 1024)
    return static_cast<unsigned>(value);
  return refusal_of(kStepJobCount, variable, std::string(kStepJobCount.phrase) + ": \"" + text + "\"");
}
