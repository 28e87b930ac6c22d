#include "support/MockUsageSource.hpp"

#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <memory>

using namespace meterly::core;
using namespace std::chrono_literals;

namespace {

// A clock that steps one second per reading, starting at `start`.
Clock steppingClock(Date start) {
    auto ticks = std::make_shared<std::atomic<int>>(0);
    return [ticks, start] { return start + (*ticks)++; };
}

std::vector<UsageSnapshot> take(AsyncStream<UsageSnapshot>& stream, int count) {
    std::vector<UsageSnapshot> out;
    for (int i = 0; i < count; ++i) {
        auto snapshot = stream.next(5s);
        if (!snapshot) {
            ADD_FAILURE() << "stream ended after " << i << " snapshots";
            break;
        }
        out.push_back(*snapshot);
    }
    return out;
}

} // namespace

TEST(MockUsageSourceTest, WindowsFillUpAndStartOver) {
    MockUsageSource source(0.001, 0.5, 0.25, steppingClock(1000));
    auto stream = source.snapshots();
    auto snapshots = take(stream, 7);
    ASSERT_EQ(snapshots.size(), 7u);

    const double fiveHour[] = {0.5, 0.75, 1, 0.5, 0.75, 1, 0.5};
    for (std::size_t i = 0; i < snapshots.size(); ++i) {
        const auto& s = snapshots[i];
        ASSERT_TRUE(s.fiveHour && s.sevenDay);
        EXPECT_EQ(s.fiveHour->utilization, fiveHour[i]) << i;
        EXPECT_EQ(s.fiveHour->status, fiveHour[i] >= 1 ? "rejected" : "allowed") << i;
        EXPECT_EQ(s.representativeClaim, "five_hour");
        EXPECT_EQ(s.overageStatus, std::nullopt);
        // The first reading of the clock fixes the reset times; each snapshot reads it again.
        EXPECT_EQ(s.fiveHour->resetAt, 1000 + 8040) << i;
        EXPECT_EQ(s.sevenDay->resetAt, 1000 + 259200) << i;
        EXPECT_EQ(s.capturedAt, 1001 + static_cast<double>(i)) << i;
    }
    EXPECT_DOUBLE_EQ(snapshots[0].sevenDay->utilization, 0.49);
    EXPECT_DOUBLE_EQ(snapshots[1].sevenDay->utilization, 0.49 + 0.25 / 3);
    EXPECT_EQ(snapshots[6].sevenDay->status, "allowed");
}

TEST(MockUsageSourceTest, OverfullWindowShowsFullAndRejected) {
    MockUsageSource source(0.001, 1.3, 0.1, steppingClock(0));
    auto stream = source.snapshots();
    auto snapshots = take(stream, 2);
    ASSERT_EQ(snapshots.size(), 2u);
    EXPECT_EQ(snapshots[0].fiveHour, (LimitWindow{"rejected", 1, 8040}));
    EXPECT_EQ(snapshots[0].sevenDay, (LimitWindow{"rejected", 1, 259200}));
    EXPECT_EQ(snapshots[1].fiveHour->utilization, 1) << "1.3 starts over at 1.3";
}

TEST(MockUsageSourceTest, StreamsOpenedAtDifferentTimesHaveTheirOwnResets) {
    Date now = 0;
    std::mutex mutex;
    MockUsageSource source(3600, 0.1, 0.1, [&] {
        std::lock_guard lock(mutex);
        return now;
    });
    auto first = source.snapshots();
    auto a = first.next(5s);
    {
        std::lock_guard lock(mutex);
        now = 500;
    }
    auto second = source.snapshots();
    auto b = second.next(5s);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->fiveHour->resetAt, 8040);
    EXPECT_EQ(b->fiveHour->resetAt, 8540);
}

TEST(MockUsageSourceTest, DroppingTheStreamEndsItsTaskAtOnce) {
    // The task owns the clock; the clock going away shows that the task has ended, long before
    // its hour-long pause would be over.
    struct Sentinel {
        std::promise<void> gone;
        ~Sentinel() { gone.set_value(); }
    };
    auto sentinel = std::make_shared<Sentinel>();
    auto ended = sentinel->gone.get_future();
    {
        MockUsageSource source(3600, 0.1, 0.1, [sentinel] { return 0.0; });
        sentinel.reset();
        auto stream = source.snapshots();
        ASSERT_TRUE(stream.next(5s));
    }
    EXPECT_EQ(ended.wait_for(5s), std::future_status::ready);
}
