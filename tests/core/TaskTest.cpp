#include "core/Task.hpp"

#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace meterly::core {
namespace {

TEST(TaskTest, TheBodyRunsOnAThreadOfItsOwnUntilItsTokenIsCancelled) {
    // The body owns what it uses; the test keeps the other ends of the promises.
    auto started = std::make_shared<std::promise<std::thread::id>>();
    auto stopped = std::make_shared<std::promise<int>>();
    auto startedOn = started->get_future();
    auto stepsDone = stopped->get_future();
    auto token = startTask([started, stopped](const CancellationToken& own) {
        started->set_value(std::this_thread::get_id());
        int steps = 0;
        while (own.sleepFor(1e12)) {
            ++steps;
        }
        stopped->set_value(steps);
    });
    EXPECT_NE(startedOn.get(), std::this_thread::get_id());
    token->cancel();
    EXPECT_EQ(stepsDone.get(), 0);
}

} // namespace
} // namespace meterly::core
