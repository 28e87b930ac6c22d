#include "core/CancellationToken.hpp"

#include <gtest/gtest.h>
#include <thread>

namespace meterly::core {
namespace {

TEST(CancellationTokenTest, ASleepEndsEarlyOnlyWhenCancelled) {
    CancellationToken token;
    EXPECT_FALSE(token.isCancelled());
    EXPECT_TRUE(token.sleepFor(0));
    EXPECT_TRUE(token.sleepFor(-5));

    // A sleep far longer than the test ends as soon as another thread cancels.
    std::thread canceller([&token] { token.cancel(); });
    EXPECT_FALSE(token.sleepFor(1e12));
    canceller.join();
    EXPECT_TRUE(token.isCancelled());
    EXPECT_FALSE(token.sleepFor(3600));
}

} // namespace
} // namespace meterly::core
