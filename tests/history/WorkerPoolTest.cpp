#include "history/WorkerPool.hpp"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

namespace meterly::history {
namespace {

TEST(WorkerPoolTest, RunsEveryTaskOnceWithoutOverlapPerWorker) {
    for (const std::size_t workers : std::initializer_list<std::size_t>{1, 2, 5}) {
        WorkerPool pool(workers);
        ASSERT_EQ(pool.size(), workers);
        // Many batches in a row, of sizes around the number of workers.
        for (std::size_t count = 0; count < 40; ++count) {
            auto runs = std::make_unique<std::atomic<int>[]>(count + 1);
            auto busy = std::make_unique<std::atomic<bool>[]>(workers);
            std::atomic<bool> overlap{false};
            std::atomic<bool> badWorker{false};
            pool.run(count, [&](std::size_t index, std::size_t worker) {
                if (worker >= workers) {
                    badWorker = true;
                    return;
                }
                if (busy[worker].exchange(true)) {
                    overlap = true;
                }
                runs[index].fetch_add(1);
                busy[worker] = false;
            });
            EXPECT_FALSE(overlap);
            EXPECT_FALSE(badWorker);
            for (std::size_t index = 0; index < count; ++index) {
                EXPECT_EQ(runs[index].load(), 1) << workers << " workers, task " << index;
            }
        }
    }
}

TEST(WorkerPoolTest, ThrowsTheFirstFailureAfterTheBatch) {
    WorkerPool pool(4);
    std::atomic<int> ran{0};
    EXPECT_THROW(pool.run(100,
                          [&](std::size_t index, std::size_t) {
                              ran.fetch_add(1);
                              if (index == 3) {
                                  throw std::runtime_error("task failed");
                              }
                          }),
                 std::runtime_error);
    EXPECT_GE(ran.load(), 4);
    // The pool goes on working afterwards.
    std::atomic<int> after{0};
    pool.run(10, [&](std::size_t, std::size_t) { after.fetch_add(1); });
    EXPECT_EQ(after.load(), 10);
}

} // namespace
} // namespace meterly::history
