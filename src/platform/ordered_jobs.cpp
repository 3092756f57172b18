#include "platform/ordered_jobs.h"

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Shared between the committer and the workers. |next| is the next job a
// worker may take; |committed| the number of jobs committed so far; a job
// is taken only while it lies less than |window| jobs ahead of |committed|.
struct a_job_board {
  std::mutex lock;
  std::condition_variable job_ready;   // a job was prepared
  std::condition_variable room_ahead;  // a job was committed, or work stopped
  size_t next = 0;
  size_t committed = 0;
  size_t count = 0;
  size_t window = 1;
  bool stopping = false;
  std::vector<char> prepared;  // one flag per job
  std::atomic<bool> cancelled{false};
};

class a_worker_turn : public a_job_turn {
 public:
  explicit a_worker_turn(a_job_board& board) : board_(board) {}
  bool cancelled() const override { return board_.cancelled.load(); }
  bool wait_for_commit(size_t index) const override {
    std::unique_lock<std::mutex> hold(board_.lock);
    board_.room_ahead.wait(hold, [&] { return board_.stopping || board_.committed > index; });
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

void work(a_job_board& board, const PrepareJob& prepare) {
  const a_worker_turn turn(board);
  for (;;) {
    size_t index;
    {
      std::unique_lock<std::mutex> hold(board.lock);
      board.room_ahead.wait(hold, [&] {
        return board.stopping || board.next >= board.count || board.next < board.committed + board.window;
      });
      if (board.stopping || board.next >= board.count) return;
      index = board.next++;
    }
    prepare(index, turn);
    {
      std::lock_guard<std::mutex> hold(board.lock);
      board.prepared[index] = 1;
    }
    board.job_ready.notify_all();
  }
}

}  // namespace

size_t run_ordered_jobs(size_t count, unsigned workers, size_t window, const PrepareJob& prepare,
                        const CommitJob& commit, const DiscardJob& discard) {
  if (workers <= 1) {
    const a_serial_turn turn;
    for (size_t i = 0; i < count; ++i) {
      prepare(i, turn);
      if (!commit(i)) return i;
    }
    return count;
  }

  a_job_board board;
  board.count = count;
  board.window = window < 1 ? 1 : window;
  board.prepared.assign(count, 0);
  std::vector<std::thread> threads;
  threads.reserve(workers);
  for (unsigned w = 0; w < workers; ++w) threads.emplace_back(work, std::ref(board), std::cref(prepare));

  size_t done = 0;
  for (; done < count; ++done) {
    {
      std::unique_lock<std::mutex> hold(board.lock);
      board.job_ready.wait(hold, [&] { return board.prepared[done] != 0; });
    }
    if (!commit(done)) break;
    {
      std::lock_guard<std::mutex> hold(board.lock);
      board.committed = done + 1;
    }
    board.room_ahead.notify_all();
  }

  {
    std::lock_guard<std::mutex> hold(board.lock);
    board.stopping = true;
    board.cancelled = true;
  }
  board.room_ahead.notify_all();
  for (std::thread& t : threads) t.join();
  // Every job taken has been prepared by now; those after the one that
  // stopped are thrown away.
  for (size_t i = done + 1; i < board.next; ++i) discard(i);
  return done;
}

unsigned worker_count_from_environment(const char* variable, std::string* complaint) {
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  const unsigned fallback = online >= 1 ? static_cast<unsigned>(online) : 1;
  const char* text = std::getenv(variable);
  if (text == nullptr) return fallback;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (*text >= '1' && *text <= '9' && end != nullptr && *end == '\0' && value <= 1024)
    return static_cast<unsigned>(value);
  if (complaint != nullptr)
    *complaint = std::string(variable) + ": not a number of jobs from 1 to 1024: \"" + text + "\"";
  return fallback;
}
