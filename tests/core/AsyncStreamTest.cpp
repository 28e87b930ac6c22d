#include "core/AsyncStream.hpp"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace meterly::core;
using namespace std::chrono_literals;

namespace {

// Records every run of a termination handler.
struct TerminationLog {
    std::atomic<int> runs{0};
    std::atomic<int> lastReason{-1};

    std::function<void(StreamTermination)> handler() {
        return [this](StreamTermination reason) {
            ++runs;
            lastReason = static_cast<int>(reason);
        };
    }
};

std::vector<int> drain(AsyncStream<int>& stream) {
    std::vector<int> values;
    while (auto value = stream.next(5s)) {
        values.push_back(*value);
    }
    return values;
}

} // namespace

TEST(AsyncStreamTest, FinishedStreamDeliversWhatItHoldsThenEnds) {
    auto [stream, producer] = AsyncStream<int>::make();
    TerminationLog log;
    producer.setOnTermination(log.handler());
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(producer.yield(i), YieldResult::enqueued);
    }
    producer.finish();
    EXPECT_EQ(log.runs, 1) << "finishing runs the handler at once";
    EXPECT_EQ(log.lastReason, static_cast<int>(StreamTermination::finished));
    EXPECT_EQ(producer.yield(4), YieldResult::terminated);
    EXPECT_FALSE(stream.isEnded());

    EXPECT_EQ(drain(stream), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(stream.isEnded());
    EXPECT_EQ(stream.next(), std::nullopt);
    producer.finish();
    stream.cancel();
    EXPECT_EQ(log.runs, 1) << "the handler runs once";
}

TEST(AsyncStreamTest, NewestPolicyDropsTheOldestValues) {
    struct Case {
        std::size_t limit;
        std::vector<YieldResult> results;
        std::vector<int> delivered;
    };
    using R = YieldResult;
    const std::vector<Case> cases = {
        {3, {R::enqueued, R::enqueued, R::enqueued, R::dropped, R::dropped}, {3, 4, 5}},
        {1, {R::enqueued, R::dropped, R::dropped, R::dropped, R::dropped}, {5}},
        {0, {R::dropped, R::dropped, R::dropped, R::dropped, R::dropped}, {}},
        {8, {R::enqueued, R::enqueued, R::enqueued, R::enqueued, R::enqueued}, {1, 2, 3, 4, 5}},
    };
    for (const auto& c : cases) {
        auto [stream, producer] = AsyncStream<int>::make(StreamBuffering::newest(c.limit));
        std::vector<YieldResult> results;
        for (int i = 1; i <= 5; ++i) {
            results.push_back(producer.yield(i));
        }
        producer.finish();
        EXPECT_EQ(results, c.results) << "limit " << c.limit;
        EXPECT_EQ(drain(stream), c.delivered) << "limit " << c.limit;
    }
}

TEST(AsyncStreamTest, WaitingConsumerTakesAValueEvenWithRoomForNone) {
    auto [stream, producer] = AsyncStream<int>::make(StreamBuffering::newest(0));
    std::thread consumer([&s = stream] { EXPECT_EQ(s.next(5s), 7); });
    // The value only counts as taken once the consumer waits; keep offering until it does.
    while (producer.yield(7) == YieldResult::dropped) {
        std::this_thread::yield();
    }
    consumer.join();
}

TEST(AsyncStreamTest, CancelFromAnotherThreadEndsAWaitingConsumer) {
    auto [stream, producer] = AsyncStream<int>::make();
    TerminationLog log;
    producer.setOnTermination(log.handler());
    std::atomic<bool> returned{false};
    std::thread consumer([&s = stream, &returned] {
        EXPECT_EQ(s.next(), std::nullopt);
        returned = true;
    });
    auto cancel = stream.canceller();
    cancel();
    consumer.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(log.runs, 1);
    EXPECT_EQ(log.lastReason, static_cast<int>(StreamTermination::cancelled));
    EXPECT_TRUE(producer.isTerminated());
    EXPECT_EQ(producer.yield(1), YieldResult::terminated);
    producer.finish();
    EXPECT_EQ(log.runs, 1);
}

TEST(AsyncStreamTest, DroppingTheConsumerRunsTheHandlerAndDiscardsBufferedValues) {
    auto shared = std::make_shared<int>(1);
    TerminationLog log;
    std::optional<AsyncStream<std::shared_ptr<int>>::Continuation> producer;
    {
        auto [stream, continuation] = AsyncStream<std::shared_ptr<int>>::make();
        continuation.setOnTermination(log.handler());
        continuation.yield(shared);
        producer = continuation;
        EXPECT_EQ(shared.use_count(), 2);
    }
    EXPECT_EQ(log.runs, 1);
    EXPECT_EQ(log.lastReason, static_cast<int>(StreamTermination::cancelled));
    EXPECT_EQ(shared.use_count(), 1) << "buffered values are released with the consumer";
    EXPECT_EQ(producer->yield(shared), YieldResult::terminated);
}

TEST(AsyncStreamTest, HandlerSetAfterTheEndRunsAtOnce) {
    auto [stream, producer] = AsyncStream<int>::make();
    producer.finish();
    TerminationLog log;
    producer.setOnTermination(log.handler());
    EXPECT_EQ(log.runs, 1);
    EXPECT_EQ(log.lastReason, static_cast<int>(StreamTermination::finished));
}

TEST(AsyncStreamTest, HandlerMayUseTheStreamItEnds) {
    auto [stream, producer] = AsyncStream<int>::make();
    std::atomic<int> seen{-1};
    // Holding the stream's own lock while running the handler would deadlock here.
    producer.setOnTermination([producer = producer, &seen](StreamTermination) {
        seen = static_cast<int>(producer.yield(1));
        producer.finish();
    });
    stream.cancel();
    EXPECT_EQ(seen, static_cast<int>(YieldResult::terminated));
}

TEST(AsyncStreamTest, LastProducerGoneEndsTheStream) {
    auto [stream, producer] = AsyncStream<int>::make();
    std::thread worker([p = std::move(producer)] { p.yield(1); });
    worker.join();
    EXPECT_EQ(stream.next(5s), 1);
    EXPECT_EQ(stream.next(5s), std::nullopt);
    EXPECT_TRUE(stream.isEnded());
}

TEST(AsyncStreamTest, TimedNextGivesUpWithoutEndingTheStream) {
    auto [stream, producer] = AsyncStream<int>::make();
    EXPECT_EQ(stream.next(1ms), std::nullopt);
    EXPECT_FALSE(stream.isEnded());
    producer.yield(2);
    EXPECT_EQ(stream.next(1ms), 2);
}

TEST(AsyncStreamTest, ConcurrentProducersLoseNothing) {
    auto [stream, producer] = AsyncStream<int>::make();
    constexpr int producers = 4;
    constexpr int each = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < producers; ++t) {
        threads.emplace_back([p = producer, t] {
            for (int i = 0; i < each; ++i) {
                p.yield(t * each + i);
            }
        });
    }
    std::vector<int> received;
    std::vector<int> lastOf(producers, -1);
    for (int n = 0; n < producers * each; ++n) {
        auto value = stream.next(5s);
        ASSERT_TRUE(value);
        const auto from = static_cast<std::size_t>(*value / each);
        EXPECT_GT(*value, lastOf[from]) << "values of one producer keep their order";
        lastOf[from] = *value;
        received.push_back(*value);
    }
    for (auto& thread : threads) {
        thread.join();
    }
    producer.finish();
    EXPECT_EQ(stream.next(5s), std::nullopt);
    EXPECT_EQ(received.size(), static_cast<std::size_t>(producers * each));
}
