#include "state/BlockingWorker.hpp"

#include "support/VirtualTimeExecutor.hpp"

#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <vector>

namespace meterly::state {
namespace {

TEST(BlockingWorkerTest, RunsWorkOffTheMainThreadAndDeliversOutcomesInOrder) {
    VirtualTimeExecutor executor;
    BlockingWorker worker(executor);
    const auto mainThread = std::this_thread::get_id();
    std::vector<std::string> delivered;
    worker.run([&] { return std::this_thread::get_id() != mainThread; },
               [&](Outcome<bool> offMain) {
                   EXPECT_TRUE(offMain.get());
                   delivered.push_back("first");
               });
    worker.run([]() -> int { throw std::runtime_error("disk gone"); },
               [&](Outcome<int> failed) {
                   EXPECT_FALSE(failed.ok());
                   EXPECT_THROW(failed.get(), std::runtime_error);
                   delivered.push_back("second");
               });
    worker.run([] {}, [&](Outcome<bool>) { delivered.push_back("third"); });
    ASSERT_TRUE(executor.runUntil([&] { return delivered.size() == 3; }));
    EXPECT_EQ(delivered, (std::vector<std::string>{"first", "second", "third"}));
}

TEST(BlockingWorkerTest, NoContinuationRunsOnceTheWorkerIsGone) {
    VirtualTimeExecutor executor;
    bool continued = false;
    {
        BlockingWorker worker(executor);
        worker.run([] { return 1; }, [&](Outcome<int>) { continued = true; });
        // Wait until the result is posted, but do not run it.
        while (worker.pending() > 0) {
            std::this_thread::yield();
        }
    }
    executor.runReady();
    EXPECT_FALSE(continued);
}

} // namespace
} // namespace meterly::state
