#include "support/VirtualTimeExecutor.hpp"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace meterly::state {
namespace {

TEST(VirtualTimeExecutorTest, RunsTimersInDueOrderAsTimeAdvances) {
    VirtualTimeExecutor executor(1000);
    std::vector<std::string> log;
    executor.postAfter(5, [&] { log.push_back("5 at " + std::to_string(int(executor.now()))); });
    executor.postAfter(1, [&] {
        log.push_back("1");
        executor.postAfter(1,
                           [&] { log.push_back("1+1 at " + std::to_string(int(executor.now()))); });
    });
    const auto cancelled = executor.postAfter(3, [&] { log.push_back("cancelled"); });
    executor.post([&] { log.push_back("now"); });
    executor.cancel(cancelled);

    executor.advance(4);
    EXPECT_EQ(log, (std::vector<std::string>{"now", "1", "1+1 at 1002"}));
    EXPECT_EQ(executor.now(), 1004);
    executor.advance(1);
    EXPECT_EQ(log.back(), "5 at 1005");
    EXPECT_EQ(executor.pendingTimers(), 0u);
}

TEST(VirtualTimeExecutorTest, WaitsForJobsPostedFromOtherThreads) {
    VirtualTimeExecutor executor;
    bool arrived = false;
    std::thread other([&] { executor.post([&] { arrived = true; }); });
    EXPECT_TRUE(executor.runUntil([&] { return arrived; }));
    other.join();
    EXPECT_FALSE(executor.runUntil([] { return false; }, std::chrono::milliseconds(1)));
}

} // namespace
} // namespace meterly::state
