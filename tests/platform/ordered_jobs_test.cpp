// The ordered job pool: prepared anywhere, committed in order, stopped at
// the first commit that fails, with the same effects for any number of
// workers.
#include "platform/ordered_jobs.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// 40 jobs, a window of 5, and a commit that fails at job 20: for one worker
// and for four, the commits are 0 to 20 in order, no job is prepared more
// than the window ahead of the commits, and each job prepared after the
// failure is discarded once, in ascending order.
TEST(OrderedJobs, CommitsInOrderAndStopsAtTheFirstFailure) {
  for (const unsigned workers : {1u, 4u}) {
    SCOPED_TRACE(workers);
    std::mutex lock;
    std::vector<size_t> committed, discarded;
    std::vector<char> prepared(40, 0);
    std::atomic<size_t> next_commit{0};
    bool within_window = true, on_caller = true;
    const std::thread::id caller = std::this_thread::get_id();
    const size_t count = run_ordered_jobs(
        40, workers, 5,
        [&](size_t i, const a_job_turn&) {
          std::lock_guard<std::mutex> hold(lock);
          within_window = within_window && i < next_commit + 5;
          on_caller = on_caller && std::this_thread::get_id() == caller;
          prepared[i] = 1;
        },
        [&](size_t i) {
          committed.push_back(i);
          next_commit = i + 1;
          return i != 20;
        },
        [&](size_t i) { discarded.push_back(i); });
    EXPECT_EQ(count, 20u) << "job 20's commit failed";
    EXPECT_EQ(committed.size(), 21u);
    for (size_t i = 0; i < committed.size(); ++i) EXPECT_EQ(committed[i], i);
    EXPECT_TRUE(within_window);
    EXPECT_EQ(on_caller, workers == 1) << "one worker starts no thread";
    std::vector<size_t> expected;
    for (size_t i = 21; i < 40; ++i)
      if (prepared[i]) expected.push_back(i);
    EXPECT_EQ(discarded, expected);
  }
}

// A job that builds on an earlier one waits for its commit; once a commit
// fails, waiting for a job that will never be committed returns false and
// the work shows as cancelled.
TEST(OrderedJobs, AJobWaitsForTheCommitItBuildsOnAndSeesTheWorkStop) {
  std::atomic<size_t> commits{0};
  std::atomic<bool> waited_in_order{true}, refused{false}, cancelled{false};
  run_ordered_jobs(
      8, 3, 8,
      [&](size_t i, const a_job_turn& turn) {
        if (i == 3 && (!turn.wait_for_commit(1) || commits < 2)) waited_in_order = false;
        if (i == 6) {
          refused = !turn.wait_for_commit(5);
          cancelled = turn.cancelled();
        }
      },
      [&](size_t i) {
        ++commits;
        return i != 4;
      },
      [](size_t) {});
  EXPECT_TRUE(waited_in_order);
  EXPECT_TRUE(refused) << "job 5 is never committed";
  EXPECT_TRUE(cancelled);
}

TEST(OrderedJobs, TheWorkerCountComesFromTheEnvironmentWhenItIsANumber) {
  const unsigned online = worker_count_from_environment("KESTREL_TEST_UNSET_JOBS", nullptr);
  EXPECT_GE(online, 1u);
  const struct { const char* text; unsigned jobs; } cases[] = {
      {"3", 3}, {"1024", 1024}, {"0", 0}, {"2x", 0}, {"1025", 0}, {"", 0}};
  for (const auto& c : cases) {
    setenv("KESTREL_TEST_JOBS", c.text, 1);
    std::string complaint;
    EXPECT_EQ(worker_count_from_environment("KESTREL_TEST_JOBS", &complaint), c.jobs != 0 ? c.jobs : online) << c.text;
    EXPECT_EQ(complaint.empty(), c.jobs != 0) << c.text << ": " << complaint;
  }
  unsetenv("KESTREL_TEST_JOBS");
}

}  // namespace
