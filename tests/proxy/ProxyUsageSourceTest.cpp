#include "proxy/ProxyUsageSource.hpp"

#include "proxy/KnownHeaderName.hpp"
#include "proxy/ProxyLog.hpp"
#include "proxy/ProxyResponses.hpp"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

using namespace meterly::proxy;
using meterly::core::LimitWindow;
using meterly::core::UsageSnapshot;
using meterly::core::UsageSourceEvent;
using namespace std::chrono_literals;

namespace {

const std::string h5 = "anthropic-ratelimit-unified-5h-";

HTTPHeaders fiveHourHeaders(const std::string& utilization) {
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

    EXPECT_EQ(source.ingest(HTTPHeaders{{"content-type", "x"}}, 10), std::nullopt);
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
         "c-ratelimit-unified-5h-status",
         true},
        {"anthropic-ratelimit-unified", false},
        {"anthropic-ratelimit-requests-limit", false},
        {"Content-Type", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KnownHeaderName::of(c.name).kind() == KnownHeaderName::Kind::rateLimit,
                  c.rateLimit)
            << c.name;
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
    const auto read = fromHead.ingest(head, 30);
    ASSERT_TRUE(read);
    EXPECT_EQ(read, meterly::core::RateLimitHeaderParser::parse(head.dictionary(), 30));
    EXPECT_EQ(read->fiveHour, (LimitWindow{"allowed", 0.25, 9000}));
    EXPECT_EQ(read->representativeClaim, "five_hour");
    EXPECT_EQ(read->sevenDay, (LimitWindow{"unknown", 0.5, 9500}));
}

TEST(ProxyUsageSourceTest, TheLastResponseCountedIsTheLatestWhateverTheClockSays) {
    LogCapture log;
    ProxyUsageSource source;
    auto subscriber = source.snapshots();
    // The wall clock as the sessions read it: it is set back an hour after the first response
    // (an NTP correction, a resumed machine), then set forward again past where it was.
    std::vector<double> readings = {10000, 6400, 6460, 6470, 10100};
    std::size_t next = 0;
    const meterly::core::Clock clock = [&] { return readings.at(next++); };

    ASSERT_TRUE(source.ingest(fiveHourHeaders("0.5"), clock()));
    ASSERT_TRUE(subscriber.next(5s));
    const auto stepped = source.ingest(fiveHourHeaders("0.6"), clock());
    ASSERT_TRUE(stepped) << "a reading taken after the step is published at once";
    EXPECT_EQ(source.state(), (ProxyUsageState{stepped, 2, 6400.0}));
    EXPECT_EQ(subscriber.next(5s), stepped);

    // A response without a reading still moves the time of the last request, backwards too.
    EXPECT_EQ(source.ingest(HTTPHeaders{}, clock()), std::nullopt);
    EXPECT_EQ(source.state(), (ProxyUsageState{stepped, 3, 6460.0}));

    for (const double expected : {6470.0, 10100.0}) {
        const auto published = source.ingest(fiveHourHeaders("0.7"), clock());
        ASSERT_TRUE(published);
        EXPECT_EQ(published->capturedAt, expected);
        EXPECT_EQ(source.state(), (ProxyUsageState{published, source.requestsSeen(), expected}));
        EXPECT_EQ(subscriber.next(5s), published);
    }
    EXPECT_EQ(source.requestsSeen(), 5);

    // A snapshot published by hand replaces the latest whatever its time, too.
    source.publish(snapshotAt(1));
    EXPECT_EQ(source.latest(), snapshotAt(1));
    EXPECT_EQ(subscriber.next(5s), snapshotAt(1));
}

TEST(ProxyUsageSourceTest, HeaderTextsThatAreNotUTF8AreReadAsLatin1) {
    LogCapture log;
    const std::string h7 = "anthropic-ratelimit-unified-7d-";
    const std::string claim = "anthropic-ratelimit-unified-representative-claim";
    const std::string overage = "anthropic-ratelimit-unified-overage-status";
    HTTPHeaders head{{h5 + "utilization", "0.25"},
                     {h5 + "reset", "9000"},
                     {h5 + "status", "allow\xE9"
                                     "d"},
                     {h7 + "utilization", "0.5"},
                     {h7 + "reset", "9500"},
                     // Already UTF-8: kept as it is.
                     {h7 + "status", "\xC3\xA9t\xC3\xA9"},
                     {claim, "five_\xFF"},
                     {overage, "\x80\xE9"}};
    ProxyUsageSource fromHead;
    for (const auto& read : {fromHead.ingest(head, 30)}) {
        ASSERT_TRUE(read);
        EXPECT_EQ(read->fiveHour->status, "allow\xC3\xA9"
                                          "d");
        EXPECT_EQ(read->sevenDay->status, "\xC3\xA9t\xC3\xA9");
        EXPECT_EQ(read->representativeClaim, "five_\xC3\xBF");
        EXPECT_EQ(read->overageStatus, "\xC2\x80\xC3\xA9");
    }

    // The status reply holds the reading instead of falling back to {"available":false}.
    const auto state = fromHead.state();
    const auto reply =
        ProxyResponses::status(state.latest, state.requestsSeen, state.lastRequestAt);
    const auto document = nlohmann::json::parse(std::string(reply.body.begin(), reply.body.end()));
    EXPECT_EQ(document["available"], true);
    EXPECT_EQ(document["fiveHour"]["status"], "allow\xC3\xA9"
                                              "d");
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
        // The status reply's view, read while the sessions ingest.
        while (reading) {
            auto state = source.state();
            if (state.latest) {
                EXPECT_TRUE(state.lastRequestAt);
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
                source.ingest(i % 2 ? fiveHourHeaders("0.5") : HTTPHeaders{}, at);
            }
        });
    }
    for (auto& session : sessions) {
        session.join();
    }
    reading = false;
    reader.join();
    // Each session's last response carries a reading: whichever came last is the latest, and its
    // time is the time of the last request.
    EXPECT_EQ(source.requestsSeen(), threads * each);
    const auto state = source.state();
    ASSERT_TRUE(state.latest && state.lastRequestAt);
    EXPECT_EQ(state.latest->capturedAt, *state.lastRequestAt);
    EXPECT_GE(*state.lastRequestAt, (each - 1) * threads);
}
