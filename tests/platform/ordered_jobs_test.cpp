// Jobs that share parts of their work with the other workers: every part
// runs once, its job sees it done, and the commits still come in order.
#include "platform/ordered_jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <deque>
#include <vector>

namespace {

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
