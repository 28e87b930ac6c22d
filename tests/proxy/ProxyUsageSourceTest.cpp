#include "proxy/ProxyUsageSource.hpp"

#include "proxy/ProxyLog.hpp"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

using namespace meterly::proxy;
using meterly::core::LimitWindow;
using meterly::core::UsageSnapshot;
using meterly::core::UsageSourceEvent;
using namespace std::chrono_literals;

namespace {

const std::string h5 = "anthropic-ratelimit-unified-5h-";

HTTPHeaders::Dictionary fiveHourHeaders(const std::string& utilization) {
    return {{h5 + "utilization", utilization}, {h5 + "reset", "9000"}, {"content-type", "x"}};
}

UsageSnapshot snapshotAt(double t) {
    UsageSnapshot snapshot;
    snapshot.fiveHour = LimitWindow{"allowed", 0.1, 9000};
    snapshot.capturedAt = t;
    return snapshot;
}

// Collects the log events for the life of a test instead of writing them to the system log.
class LogCapture {
public:
    LogCapture() {
        ProxyLog::setSink([this](const ProxyLogEvent& event) {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
        });
    }
    ~LogCapture() { ProxyLog::setSink({}); }

    std::size_t count(const ProxyLogEvent& event) {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(std::count(events_.begin(), events_.end(), event));
    }

private:
    std::mutex mutex_;
    std::vector<ProxyLogEvent> events_;
};

} // namespace

TEST(ProxyUsageSourceTest, NewSourceReportsNothingYet) {
    LogCapture log;
    ProxyUsageSource source;
    EXPECT_EQ(source.state(), (ProxyUsageState{std::nullopt, 0, std::nullopt}));
    auto events = source.events();
    EXPECT_EQ(events.next(5s), UsageSourceEvent::status(std::nullopt, 0, std::nullopt));
}

TEST(ProxyUsageSourceTest, IngestCountsEveryResponseAndPublishesOnlyUsableHeaders) {
    LogCapture log;
    ProxyUsageSource source;
    auto subscriber = source.snapshots();

    EXPECT_EQ(source.ingest(HTTPHeaders::Dictionary{{"content-type", "x"}}, 10), std::nullopt);
    EXPECT_EQ(source.state(), (ProxyUsageState{std::nullopt, 1, 10.0}));
    EXPECT_EQ(subscriber.next(1ms), std::nullopt) << "no snapshot, nothing delivered";
    EXPECT_EQ(log.count(ProxyLogEvent::snapshotPublished()), 0u);

    HTTPHeaders headers{{"Anthropic-Ratelimit-Unified-5h-Utilization", "0.25"},
                        {"anthropic-ratelimit-unified-5h-reset", "9000"}};
    auto published = source.ingest(headers, 20);
    ASSERT_TRUE(published);
    EXPECT_EQ(published->capturedAt, 20);
    EXPECT_EQ(published->fiveHour, (LimitWindow{"unknown", 0.25, 9000}));
    EXPECT_EQ(source.state(), (ProxyUsageState{published, 2, 20.0}));
    EXPECT_EQ(subscriber.next(5s), published);
    EXPECT_EQ(log.count(ProxyLogEvent::snapshotPublished()), 1u);
}

TEST(ProxyUsageSourceTest, AResponseHeadIsReadForTheRateLimitFieldsAlone) {
    struct Case {
        std::string name;
        bool rateLimit;
    };
    const Case cases[] = {
        {"anthropic-ratelimit-unified-5h-reset", true},
        {"Anthropic-RateLimit-Unified-Representative-Claim", true},
        // Lower-cases to the prefix through the Unicode tables (U+0130 becomes "i").
        {"anthrop\xC4\xB0"
         "c-ratelimit-unified-status",
         true},
        {"anthropic-ratelimit-unified", false},
        {"anthropic-ratelimit-requests-limit", false},
        {"Content-Type", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProxyUsageSource::isRateLimitName(c.name), c.rateLimit) << c.name;
    }

    // Of two spellings of one field the later wins, as in the whole head's dictionary.
    const HTTPHeaders head{{"Server", "upstream"},
                           {"ANTHROPIC-RATELIMIT-UNIFIED-5H-UTILIZATION", "0.9"},
                           {"anthropic-ratelimit-unified-5h-utilization", "0.25"},
                           {"Anthropic-Ratelimit-Unified-5h-Reset", "9000"},
                           {"anthropic-ratelimit-unified-5h-status", "allowed"},
                           {"anthropic-ratelimit-unified-representative-claim", "five_hour"},
                           {"anthrop\xC4\xB0"
                            "c-ratelimit-unified-7d-utilization",
                            "0.5"},
                           {"Anthropic-Ratelimit-Unified-7d-Reset", "9500"},
                           {"Content-Length", "90"}};
    ProxyUsageSource fromHead;
    ProxyUsageSource fromDictionary;
    const auto read = fromHead.ingest(head, 30);
    ASSERT_TRUE(read);
    EXPECT_EQ(read, fromDictionary.ingest(head.dictionary(), 30));
    EXPECT_EQ(read->fiveHour, (LimitWindow{"allowed", 0.25, 9000}));
    EXPECT_EQ(read->representativeClaim, "five_hour");
    EXPECT_EQ(read->sevenDay, (LimitWindow{"unknown", 0.5, 9500}));
}

TEST(ProxyUsageSourceTest, LateFinishingResponsesNeverTurnTheStateBack) {
    LogCapture log;
    ProxyUsageSource source;
    ASSERT_TRUE(source.ingest(fiveHourHeaders("0.5"), 200));
    auto subscriber = source.snapshots();
    ASSERT_TRUE(subscriber.next(5s));

    // A response read earlier whose parsing finishes later.
    EXPECT_EQ(source.ingest(fiveHourHeaders("0.4"), 150), std::nullopt);
    EXPECT_EQ(source.latest()->fiveHour->utilization, 0.5);
    EXPECT_EQ(source.lastRequestAt(), 200.0);
    EXPECT_EQ(source.requestsSeen(), 2) << "a late response still counts";
    EXPECT_FALSE(source.publish(snapshotAt(199)));
    EXPECT_EQ(subscriber.next(1ms), std::nullopt) << "an older snapshot is not delivered";

    EXPECT_TRUE(source.publish(snapshotAt(200))) << "an equal capture time replaces";
    EXPECT_EQ(source.latest(), snapshotAt(200));
}

TEST(ProxyUsageSourceTest, NewSubscriberStartsWithTheLatest) {
    LogCapture log;
    ProxyUsageSource source;
    source.publish(snapshotAt(1));
    auto subscriber = source.snapshots();
    EXPECT_EQ(subscriber.next(5s), snapshotAt(1));
}

TEST(ProxyUsageSourceTest, SlowSubscriberKeepsTheNewestEight) {
    LogCapture log;
    ProxyUsageSource source;
    source.publish(snapshotAt(0));
    auto subscriber = source.snapshots();
    for (int i = 1; i <= 10; ++i) {
        source.publish(snapshotAt(i));
    }
    source.finish();
    std::vector<double> seen;
    while (auto snapshot = subscriber.next(5s)) {
        seen.push_back(snapshot->capturedAt);
    }
    EXPECT_EQ(seen, (std::vector<double>{3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST(ProxyUsageSourceTest, FinishEndsSubscriptionsButNotTheSource) {
    LogCapture log;
    ProxyUsageSource source;
    source.publish(snapshotAt(1));
    auto first = source.snapshots();
    auto events = source.events();
    EXPECT_EQ(source.subscriberCount(), 2u);

    source.finish();
    EXPECT_EQ(source.subscriberCount(), 0u);
    EXPECT_EQ(first.next(5s), snapshotAt(1)) << "what is buffered is still delivered";
    EXPECT_EQ(first.next(5s), std::nullopt);
    std::size_t statusEvents = 0;
    while (events.next(5s)) {
        ++statusEvents;
    }
    EXPECT_TRUE(events.isEnded()) << "an events stream ends with its snapshots";
    EXPECT_GE(statusEvents, 1u);

    auto later = source.snapshots();
    EXPECT_EQ(later.next(5s), snapshotAt(1));
    source.publish(snapshotAt(2));
    EXPECT_EQ(later.next(5s), snapshotAt(2));
}

TEST(ProxyUsageSourceTest, DroppedSubscriptionsUnregister) {
    LogCapture log;
    ProxyUsageSource source;
    {
        auto snapshots = source.snapshots();
        auto events = source.events();
        EXPECT_EQ(source.subscriberCount(), 2u);
    }
    EXPECT_EQ(source.subscriberCount(), 0u);
}

TEST(ProxyUsageSourceTest, EventsCarryTheCountersWithEachSnapshot) {
    LogCapture log;
    ProxyUsageSource source;
    source.ingest(fiveHourHeaders("0.3"), 5);
    auto events = source.events();
    // The first event reads the state when the task starts, the second comes with the latest
    // snapshot that the subscription begins with.
    EXPECT_EQ(events.next(5s), UsageSourceEvent::status(source.latest(), 1, 5.0));
    EXPECT_EQ(events.next(5s), UsageSourceEvent::status(source.latest(), 1, 5.0));
    auto published = source.ingest(fiveHourHeaders("0.4"), 7);
    EXPECT_EQ(events.next(5s), UsageSourceEvent::status(published, 2, 7.0));
}

TEST(ProxyUsageSourceTest, StreamsEndWhenTheSourceGoesAway) {
    LogCapture log;
    auto source = std::make_unique<ProxyUsageSource>();
    auto snapshots = source->snapshots();
    auto events = source->events();
    ASSERT_TRUE(events.next(5s));
    source.reset();
    EXPECT_EQ(snapshots.next(5s), std::nullopt);
    EXPECT_EQ(events.next(5s), std::nullopt);
    EXPECT_TRUE(snapshots.isEnded() && events.isEnded());
}

TEST(ProxyUsageSourceTest, ConcurrentIngestsKeepEveryCountAndTheNewestReading) {
    LogCapture log;
    ProxyUsageSource source;
    auto subscriber = source.snapshots();
    std::atomic<bool> reading{true};
    std::thread reader([&] {
        // The status reply's view: the three values always belong together.
        while (reading) {
            auto state = source.state();
            if (state.latest) {
                EXPECT_TRUE(state.lastRequestAt);
                EXPECT_LE(state.latest->capturedAt, *state.lastRequestAt);
            }
        }
    });
    constexpr int threads = 8;
    constexpr int each = 250;
    std::vector<std::thread> sessions;
    for (int t = 0; t < threads; ++t) {
        sessions.emplace_back([&source, t] {
            for (int i = 0; i < each; ++i) {
                double at = i * threads + t;
                source.ingest(i % 2 ? fiveHourHeaders("0.5") : HTTPHeaders::Dictionary{}, at);
            }
        });
    }
    for (auto& session : sessions) {
        session.join();
    }
    reading = false;
    reader.join();
    constexpr double newest = (each - 1) * threads + (threads - 1);
    EXPECT_EQ(source.requestsSeen(), threads * each);
    EXPECT_EQ(source.lastRequestAt(), newest);
    EXPECT_EQ(source.latest()->capturedAt, newest);
}
