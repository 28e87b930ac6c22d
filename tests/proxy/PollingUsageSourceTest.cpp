#include "proxy/PollingUsageSource.hpp"

#include "support/LocalHTTPServer.hpp"

#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <vector>

using namespace meterly::proxy;
using meterly::core::CancellationToken;
using meterly::core::LimitWindow;
using meterly::core::UsageSnapshot;
using meterly::core::UsageSourceEvent;
using meterly::testing::LocalHTTPServer;
using namespace std::chrono_literals;

namespace {

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

// Plays a script of readings, one per fetch, without pausing between them. When the script is
// over it tells the test so and then waits until the poller is cancelled. The poller's task holds
// the script, which may outlive the test's own handle.
class ScriptedProxy {
public:
    explicit ScriptedProxy(std::vector<Reading> script)
        : shared_(std::make_shared<Shared>(std::move(script))) {}

    PollingUsageSource source() {
        auto shared = shared_;
        return PollingUsageSource(
            [shared](const CancellationToken& token) { return shared->fetch(token); }, 2,
            [shared](meterly::core::Seconds span, const CancellationToken&) {
                std::lock_guard lock(shared->mutex);
                shared->pauses.push_back(span);
            });
    }

    // Waits until every reading of the script was taken.
    bool played() { return done_.wait_for(5s) == std::future_status::ready; }

    std::vector<meterly::core::Seconds> pauses() {
        std::lock_guard lock(shared_->mutex);
        return shared_->pauses;
    }

private:
    struct Shared {
        explicit Shared(std::vector<Reading> s) : script(std::move(s)) {}

        ProxyStatusReport fetch(const CancellationToken& token) {
            std::size_t index = next++;
            if (index < script.size()) {
                if (!script[index]) {
                    throw std::runtime_error("connection refused");
                }
                return *script[index];
            }
            if (index == script.size()) {
                done.set_value();
            }
            token.sleepFor(3600);
            throw std::runtime_error("cancelled");
        }

        std::vector<Reading> script;
        std::atomic<std::size_t> next{0};
        std::promise<void> done;
        std::mutex mutex;
        std::vector<meterly::core::Seconds> pauses;
    };

    std::shared_ptr<Shared> shared_;
    std::future<void> done_ = shared_->done.get_future();
};

template <typename T>
std::vector<T> buffered(meterly::core::AsyncStream<T>& stream) {
    std::vector<T> out;
    while (auto value = stream.next(0ms)) {
        out.push_back(*value);
    }
    return out;
}

} // namespace

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
        ScriptedProxy proxy(c.script);
        auto source = proxy.source();
        auto events = source.events();
        ASSERT_TRUE(proxy.played()) << c.name;
        EXPECT_EQ(buffered(events), c.expected) << c.name;
        auto pauses = proxy.pauses();
        EXPECT_EQ(pauses.size(), c.script.size()) << c.name << ": one pause after each reading";
        for (auto span : pauses) {
            EXPECT_EQ(span, 2) << c.name;
        }
    }
}

TEST(PollingUsageSourceTest, SnapshotsSkipReadingsWithoutOne) {
    ScriptedProxy proxy({idle(), reportA(), std::nullopt, std::nullopt, std::nullopt, reportA()});
    auto source = proxy.source();
    auto snapshots = source.snapshots();
    ASSERT_TRUE(proxy.played());
    // The events were yielded; the forwarding task may still be on its way with them.
    EXPECT_EQ(snapshots.next(5s), reportA().snapshot);
    EXPECT_EQ(snapshots.next(5s), reportA().snapshot) << "reported again after three failures";
    EXPECT_EQ(snapshots.next(10ms), std::nullopt);
}

TEST(PollingUsageSourceTest, DroppingTheStreamStopsThePollerAtOnce) {
    // A real pause of an hour: the poller must leave it when its stream goes away.
    std::atomic<int> fetches{0};
    std::promise<void> stopped;
    auto stoppedFuture = stopped.get_future();
    struct Signal {
        explicit Signal(std::promise<void>* p) : promise(p) {}
        ~Signal() { promise->set_value(); }
        std::promise<void>* promise;
    };
    auto signal = std::make_shared<Signal>(&stopped);
    {
        PollingUsageSource source(
            [&fetches, signal](const CancellationToken&) {
                ++fetches;
                return idle();
            },
            3600);
        signal.reset();
        auto events = source.events();
        EXPECT_EQ(events.next(5s), statusOf(idle()));
    }
    // The fetch function, held only by the poller's task, goes away when the task ends.
    EXPECT_EQ(stoppedFuture.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(fetches, 1) << "no further reading after the stream was dropped";
}

TEST(PollingUsageSourceTest, EveryStreamPollsOnItsOwn) {
    std::atomic<int> fetches{0};
    PollingUsageSource source(
        [&fetches](const CancellationToken&) {
            ++fetches;
            return reportA();
        },
        3600);
    auto first = source.events();
    auto second = source.events();
    EXPECT_EQ(first.next(5s), statusOf(reportA()));
    EXPECT_EQ(second.next(5s), statusOf(reportA()));
    EXPECT_EQ(fetches, 2);
}

TEST(PollingUsageSourceTest, FollowsARealProxyThatGoesAway) {
    const std::string document = R"({"available":false,"requestsSeen":7,"lastRequestAt":50})";
    LocalHTTPServer server([&document](const std::string&) {
        return std::optional<std::string>(LocalHTTPServer::reply("HTTP/1.1 200 OK", document));
    });
    // The first pause lasts until the test has stopped the server; the others pass at once.
    std::promise<void> resume;
    auto resumed = resume.get_future().share();
    auto pauses = std::make_shared<std::atomic<int>>(0);
    PollingUsageSource source([client = StatusClient(server.port())](
                                  const CancellationToken& token) { return client.fetch(&token); },
                              2,
                              [resumed, pauses](meterly::core::Seconds, const CancellationToken&) {
                                  if ((*pauses)++ == 0) {
                                      resumed.wait();
                                  }
                              });
    auto events = source.events();
    EXPECT_EQ(events.next(5s), UsageSourceEvent::status(std::nullopt, 7, 50.0));
    server.stop();
    resume.set_value();
    EXPECT_EQ(events.next(5s), UsageSourceEvent::unreachable(3));
}
