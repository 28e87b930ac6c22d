#include "state/PollingUsageSource.hpp"

#include "state/BlockingWorker.hpp"
#include "support/VirtualTimeExecutor.hpp"
#include "support/InlineWorker.hpp"
#include "support/LocalHTTPServer.hpp"

#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <vector>

namespace meterly::state {
namespace {

using core::CancellationToken;
using core::LimitWindow;
using core::UsageSnapshot;
using core::UsageSourceEvent;
using meterly::testing::InlineWorker;
using meterly::testing::LocalHTTPServer;
using proxy::ProxyStatusReport;
using namespace std::chrono_literals;

constexpr core::Date start = VirtualTimeExecutor::defaultStart;

// One step of a script: a reading, or a failed one.
using Reading = std::optional<ProxyStatusReport>;

ProxyStatusReport reportA() {
    return {UsageSnapshot{LimitWindow{"allowed", 0.2, 500}, std::nullopt, "five_hour", std::nullopt,
                          100},
            4, 101.0};
}
ProxyStatusReport reportB() {
    auto b = reportA();
    b.requestsSeen = 5; // the proxy counted one more response, nothing else changed
    return b;
}
ProxyStatusReport idle() {
    return {std::nullopt, 0, std::nullopt};
}

UsageSourceEvent statusOf(const ProxyStatusReport& r) {
    return UsageSourceEvent::status(r.snapshot, r.requestsSeen, r.lastRequestAt);
}

std::vector<Reading> failures(std::size_t n) {
    return std::vector<Reading>(n, std::nullopt);
}

std::vector<Reading> operator+(std::vector<Reading> a, const std::vector<Reading>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A poller on virtual time whose readings run as jobs of the executor: a test moves the clock and
// sees every reading and event that falls due.
class PollingFixture {
public:
    PollingUsageSource source(PollingUsageSource::Fetch fetch, core::Seconds interval = 2) {
        return PollingUsageSource(main, worker, std::move(fetch), interval);
    }
    UsageFeed::Handler record() {
        return [this](const UsageSourceEvent& event) { events.push_back(event); };
    }

    VirtualTimeExecutor main;
    InlineWorker worker{main};
    std::vector<UsageSourceEvent> events;
};

TEST(PollingUsageSourceTest, ReportsNewReadingsAndRunsOfFailures) {
    using E = UsageSourceEvent;
    struct Case {
        const char* name;
        std::vector<Reading> script;
        std::vector<E> expected;
    };
    const Case cases[] = {
        {"proxy down from the start",
         failures(45),
         {E::unreachable(3), E::unreachable(15), E::unreachable(30), E::unreachable(45)}},
        {"unchanged state reported once", {reportA(), reportA(), reportA()}, {statusOf(reportA())}},
        {"first reading without a snapshot", {idle(), idle()}, {statusOf(idle())}},
        {"two failures between equal readings",
         std::vector<Reading>{reportA()} + failures(2) + std::vector<Reading>{reportA()},
         {statusOf(reportA())}},
        {"three failures between equal readings",
         std::vector<Reading>{reportA()} + failures(3) + std::vector<Reading>{reportA()},
         {statusOf(reportA()), E::unreachable(3), statusOf(reportA())}},
        {"A then B then A",
         {reportA(), reportB(), reportA()},
         {statusOf(reportA()), statusOf(reportB()), statusOf(reportA())}},
        {"two failures then a change",
         std::vector<Reading>{reportA()} + failures(2) + std::vector<Reading>{reportB()},
         {statusOf(reportA()), statusOf(reportB())}},
        {"fourteen failures then a success",
         failures(14) + std::vector<Reading>{reportB()},
         {E::unreachable(3), statusOf(reportB())}},
        {"failure counts start over after a success",
         failures(3) + std::vector<Reading>{reportA()} + failures(3),
         {E::unreachable(3), statusOf(reportA()), E::unreachable(3)}},
    };
    for (const auto& c : cases) {
        PollingFixture polling;
        std::vector<core::Date> readAt;
        auto source = polling.source([&](const CancellationToken&) {
            const std::size_t index = readAt.size();
            readAt.push_back(polling.main.now());
            if (index >= c.script.size() || !c.script[index]) {
                throw std::runtime_error("connection refused");
            }
            return *c.script[index];
        });
        auto listening = source.listen(polling.record());
        polling.main.advance(2 * double(c.script.size() - 1));
        EXPECT_EQ(polling.events, c.expected) << c.name;
        // The first reading at once, then one after each pause of 2 s; the next pause has begun.
        ASSERT_EQ(readAt.size(), c.script.size()) << c.name;
        for (std::size_t i = 0; i < readAt.size(); ++i) {
            EXPECT_EQ(readAt[i], start + 2 * double(i)) << c.name << ": reading " << i;
        }
        EXPECT_EQ(polling.main.nextDue(), readAt.back() + 2) << c.name;
    }
}

TEST(PollingUsageSourceTest, ResettingTheSubscriptionStopsThePollerAtOnce) {
    PollingFixture polling;
    int fetches = 0;
    // The fetch function, held only by the source and its poller, goes away with them.
    struct Signal {
        explicit Signal(bool* flag) : released(flag) {}
        ~Signal() { *released = true; }
        bool* released;
    };
    bool released = false;
    auto signal = std::make_shared<Signal>(&released);
    {
        auto source = polling.source(
            [&fetches, signal](const CancellationToken&) {
                ++fetches;
                return idle();
            },
            3600);
        signal.reset();
        auto listening = source.listen(polling.record());
        polling.main.runReady();
        EXPECT_EQ(polling.events, std::vector<UsageSourceEvent>{statusOf(idle())});
        EXPECT_EQ(polling.main.pendingTimers(), 1u) << "the pause of an hour";
        listening.reset();
        EXPECT_EQ(polling.main.pendingTimers(), 0u) << "the pause ends at once";
    }
    EXPECT_TRUE(released);
    polling.main.advance(7200);
    EXPECT_EQ(fetches, 1) << "no further reading after the subscription was reset";
}

TEST(PollingUsageSourceTest, AReadingThatEndsAfterTheResetIsDropped) {
    PollingFixture polling;
    std::vector<bool> cancelledAtReading;
    auto source = polling.source([&](const CancellationToken& token) {
        cancelledAtReading.push_back(token.isCancelled());
        return reportA();
    });
    // The first delivery's reading is on the worker when the delivery is replaced.
    auto listening = source.listen(polling.record());
    std::vector<UsageSourceEvent> second;
    listening = source.listen([&](const UsageSourceEvent& event) { second.push_back(event); });
    polling.main.runReady();
    EXPECT_EQ(cancelledAtReading, (std::vector<bool>{true, false}));
    EXPECT_TRUE(polling.events.empty()) << "the replaced delivery's result goes nowhere";
    EXPECT_EQ(second, std::vector<UsageSourceEvent>{statusOf(reportA())});
    EXPECT_EQ(polling.main.pendingTimers(), 1u) << "one poller pauses";

    // A handler that ends its own delivery: no pause follows.
    auto stopping = source.listen([&](const UsageSourceEvent&) { listening.reset(); });
    listening = std::move(stopping);
    polling.main.runReady();
    listening.reset();
    polling.main.advance(10);
    EXPECT_EQ(cancelledAtReading.size(), 3u);
    EXPECT_EQ(polling.main.pendingTimers(), 0u);
}

TEST(PollingUsageSourceTest, EveryListeningPollsOnItsOwn) {
    PollingFixture polling;
    int fetches = 0;
    auto source = polling.source(
        [&fetches](const CancellationToken&) {
            ++fetches;
            return reportA();
        },
        3600);
    std::vector<UsageSourceEvent> second;
    auto first = source.listen(polling.record());
    auto other = source.listen([&](const UsageSourceEvent& event) { second.push_back(event); });
    polling.main.runReady();
    EXPECT_EQ(polling.events, std::vector<UsageSourceEvent>{statusOf(reportA())});
    EXPECT_EQ(second, std::vector<UsageSourceEvent>{statusOf(reportA())});
    EXPECT_EQ(fetches, 2);
}

// Waits (real time, at most 5 s) for what a worker thread does without posting anything.
bool eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    return done();
}

// The readings on a real worker thread, their events back on the test's (main) thread.
TEST(PollingUsageSourceThreadTest, FollowsARealProxyThatGoesAway) {
    const std::string document = R"({"available":false,"requestsSeen":7,"lastRequestAt":50})";
    LocalHTTPServer server([&document](const std::string&) {
        return std::optional<std::string>(LocalHTTPServer::reply("HTTP/1.1 200 OK", document));
    });
    VirtualTimeExecutor main;
    BlockingWorker worker(main);
    const auto mainThread = std::this_thread::get_id();
    std::atomic<bool> readOnMain{false};
    std::vector<UsageSourceEvent> events;
    bool handledOffMain = false;
    PollingUsageSource source(
        main, worker,
        [client = proxy::StatusClient(server.port()), mainThread,
         &readOnMain](const CancellationToken& token) {
            if (std::this_thread::get_id() == mainThread) {
                readOnMain = true;
            }
            return client.fetch(&token);
        },
        2);
    auto listening = source.listen([&](const UsageSourceEvent& event) {
        handledOffMain = handledOffMain || std::this_thread::get_id() != mainThread;
        events.push_back(event);
    });
    ASSERT_TRUE(main.runUntil([&] { return !events.empty(); }, 5s));
    EXPECT_EQ(events[0], UsageSourceEvent::status(std::nullopt, 7, 50.0));

    server.stop();
    for (int reading = 0; reading < 3; ++reading) {
        // The pause begins once the reading's result is back on the main thread.
        ASSERT_TRUE(main.runUntil([&] { return main.pendingTimers() == 1; }, 5s));
        main.advance(2);
    }
    ASSERT_TRUE(main.runUntil([&] { return events.size() == 2; }, 5s));
    EXPECT_EQ(events[1], UsageSourceEvent::unreachable(3));
    EXPECT_FALSE(readOnMain);
    EXPECT_FALSE(handledOffMain);
}

TEST(PollingUsageSourceThreadTest, ResettingCancelsTheReadingInFlight) {
    VirtualTimeExecutor main;
    BlockingWorker worker(main);
    std::atomic<bool> reading{false};
    // A reading that hangs until it is cancelled.
    PollingUsageSource source(
        main, worker,
        [&reading](const CancellationToken& token) -> ProxyStatusReport {
            reading = true;
            token.sleepFor(3600);
            throw std::runtime_error("cancelled");
        },
        2);
    int events = 0;
    auto listening = source.listen([&](const UsageSourceEvent&) { ++events; });
    ASSERT_TRUE(eventually([&] { return reading.load(); }));
    listening.reset();
    ASSERT_TRUE(eventually([&] { return worker.pending() == 0; }))
        << "the reading ends when its poller stops";
    main.runReady(); // its result, dropped
    EXPECT_EQ(events, 0);
    EXPECT_EQ(main.pendingTimers(), 0u);
}

} // namespace
} // namespace meterly::state
