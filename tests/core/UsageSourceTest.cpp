#include "core/UsageSource.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <mutex>

using namespace meterly::core;
using namespace std::chrono_literals;

namespace {

// A source whose snapshot streams the test feeds by hand.
class ScriptedSource : public UsageSource {
public:
    AsyncStream<UsageSnapshot> snapshots() override {
        auto [stream, producer] = AsyncStream<UsageSnapshot>::make();
        std::lock_guard lock(mutex_);
        producers_.push_back(producer);
        return std::move(stream);
    }

    AsyncStream<UsageSnapshot>::Continuation producer(std::size_t index) {
        std::lock_guard lock(mutex_);
        return producers_.at(index);
    }

private:
    std::mutex mutex_;
    std::vector<AsyncStream<UsageSnapshot>::Continuation> producers_;
};

UsageSnapshot capturedAt(Date t) {
    UsageSnapshot snapshot;
    snapshot.fiveHour = LimitWindow{"allowed", 0.5, t + 100};
    snapshot.capturedAt = t;
    return snapshot;
}

} // namespace

TEST(UsageSourceTest, DefaultEventsReportEachSnapshotAsAStatus) {
    ScriptedSource source;
    auto events = source.events();
    auto producer = source.producer(0);
    producer.yield(capturedAt(10));
    producer.yield(capturedAt(20));
    producer.finish();
    EXPECT_EQ(events.next(5s), UsageSourceEvent::status(capturedAt(10), 0, 10.0));
    EXPECT_EQ(events.next(5s), UsageSourceEvent::status(capturedAt(20), 0, 20.0));
    EXPECT_EQ(events.next(5s), std::nullopt);
    EXPECT_TRUE(events.isEnded()) << "the events end after the snapshots do";
}

TEST(UsageSourceTest, DroppingTheEventsStopsConsumingTheSnapshots) {
    ScriptedSource source;
    auto producer = [&] {
        auto events = source.events();
        return source.producer(0);
    }();
    EXPECT_TRUE(producer.isTerminated()) << "the inner stream is cancelled with the outer one";
    EXPECT_EQ(producer.yield(capturedAt(1)), YieldResult::terminated);
}

TEST(UsageSourceTest, EveryCallMakesAnIndependentStream) {
    ScriptedSource source;
    auto first = source.events();
    auto second = source.events();
    source.producer(1).yield(capturedAt(2));
    source.producer(0).yield(capturedAt(1));
    EXPECT_EQ(first.next(5s), UsageSourceEvent::status(capturedAt(1), 0, 1.0));
    EXPECT_EQ(second.next(5s), UsageSourceEvent::status(capturedAt(2), 0, 2.0));
}
