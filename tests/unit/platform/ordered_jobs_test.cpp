// The ordered job pool: prepared anywhere, committed in order, stopped at
// the first commit that fails, with the same effects for any number of
// workers; and jobs that share parts of their work with the other workers:
// every part runs once, its job sees it done, and the commits still come in
// order.
#include "platform/ordered_jobs.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <set>
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
  const unsigned online = online_worker_count();
  EXPECT_GE(online, 1u);
  const Result<unsigned> unset = worker_count_from_environment("KESTREL_TEST_UNSET_JOBS");
  ASSERT_TRUE(unset.ok());
  EXPECT_EQ(unset.value(), online);
  const struct { const char* text; unsigned jobs; } cases[] = {
      {"3", 3}, {"1024", 1024}, {"0", 0}, {"2x", 0}, {"1025", 0}, {"", 0}};
  for (const auto& c : cases) {
    setenv("KESTREL_TEST_JOBS", c.text, 1);
    const Result<unsigned> jobs = worker_count_from_environment("KESTREL_TEST_JOBS");
    EXPECT_EQ(jobs.ok(), c.jobs != 0) << c.text << ": " << jobs.failure().line();
    if (jobs) {
      EXPECT_EQ(jobs.value(), c.jobs) << c.text;
    }
  }
  EXPECT_EQ(worker_count_from_environment("KESTREL_TEST_JOBS").failure().line(),
            "KESTREL_TEST_JOBS: not a number of jobs from 1 to 1024: \"\"");
  unsetenv("KESTREL_TEST_JOBS");
}

// |count| jobs of |parts| parts each; each part adds its number to its
// job's sum. Returns the sums in commit order, and how many parts ran on a
// thread other than their job's.
std::vector<long> run_sharing(size_t count, unsigned workers, int parts, int* elsewhere) {
  std::vector<long> sums(count, 0);
  std::vector<long> committed;
  std::atomic<int> moved{0};
  run_ordered_jobs(
      count, workers, 4 * workers,
      [&](size_t i, const a_job_turn& turn) {
        std::deque<a_shared_task> tasks(static_cast<size_t>(parts));
        std::vector<long> results(static_cast<size_t>(parts), 0);
        std::vector<bool> shared(static_cast<size_t>(parts), false);
        for (int p = 0; p < parts; ++p) {
          const auto owner = std::this_thread::get_id();
          tasks[p].run = [&, p, owner] {
            results[p] = p + 1;
            if (std::this_thread::get_id() != owner) ++moved;
          };
          shared[p] = turn.share(tasks[p]);
          if (!shared[p]) tasks[p].run();
        }
        for (int p = 0; p < parts; ++p) {
          if (shared[p]) turn.wait_for(tasks[p]);
          sums[i] += results[p];
        }
      },
      [&](size_t i) {
        committed.push_back(sums[i]);
        return true;
      },
      [](size_t) {});
  *elsewhere = moved;
  return committed;
}

TEST(OrderedJobs, SharedPartsRunOnceWhateverTheWorkers) {
  for (const unsigned workers : {1u, 2u, 4u}) {
    int elsewhere = 0;
    const std::vector<long> sums = run_sharing(6, workers, 40, &elsewhere);
    EXPECT_EQ(sums, std::vector<long>(6, 40 * 41 / 2)) << workers << " workers";
    if (workers == 1) {
      EXPECT_EQ(elsewhere, 0) << "one worker shares nothing";
    }
  }
}

TEST(OrderedJobs, AJobSharesAtMostTheLimitAtOnce) {
  run_ordered_jobs(
      1, 3, 4,
      [](size_t, const a_job_turn& turn) {
        ASSERT_TRUE(turn.can_share());
        EXPECT_EQ(turn.share_limit(), a_job_turn::kSharedPerWorker * 3);
        std::deque<a_shared_task> tasks(turn.share_limit() + 1);
        size_t taken = 0;
        for (a_shared_task& t : tasks) {
          t.run = [] {};
          if (turn.share(t)) ++taken;
        }
        EXPECT_EQ(taken, turn.share_limit());
        for (size_t k = 0; k < taken; ++k) turn.wait_for(tasks[k]);
        a_shared_task again;
        again.run = [] {};
        EXPECT_TRUE(turn.share(again)) << "room again once the parts were waited for";
        turn.wait_for(again);
      },
      [](size_t) { return true; }, [](size_t) {});
}

}  // namespace

namespace {

// A pool serves run after run on the threads it started once, none of them
// the caller; a run that stops early leaves the pool ready for the next.
TEST(OrderedJobs, APoolRunsAgainOnTheSameWorkers) {
  OrderedJobPool pool(2);
  EXPECT_EQ(pool.workers(), 2u);
  std::mutex lock;
  std::set<std::thread::id> workers;
  for (const size_t stop_at : {size_t{100}, size_t{3}, size_t{0}, size_t{100}}) {
    SCOPED_TRACE(stop_at);
    std::vector<size_t> committed;
    const size_t count = pool.run(
        30, 4,
        [&](size_t, const a_job_turn&) {
          std::lock_guard<std::mutex> hold(lock);
          workers.insert(std::this_thread::get_id());
        },
        [&](size_t i) {
          committed.push_back(i);
          return i != stop_at;
        },
        [](size_t) {});
    EXPECT_EQ(count, stop_at < 30 ? stop_at : 30u);
    for (size_t i = 0; i < committed.size(); ++i) EXPECT_EQ(committed[i], i);
  }
  EXPECT_LE(workers.size(), 2u) << "no thread started per run";
  EXPECT_EQ(workers.count(std::this_thread::get_id()), 0u);
  EXPECT_EQ(pool.run(0, 4, [](size_t, const a_job_turn&) {}, [](size_t) { return true; }, [](size_t) {}), 0u);
}

}  // namespace
