#include "state/UsageViewModel.hpp"

#include "ViewModelFakes.hpp"
#include "proxy/StatusClient.hpp"
#include "state/PollingUsageSource.hpp"
#include "support/MemoryPreferences.hpp"
#include "support/VirtualTimeExecutor.hpp"
#include "support/FakeNotifications.hpp"
#include "support/InlineWorker.hpp"
#include "support/LocalHTTPServer.hpp"
#include "support/TempDir.hpp"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>

namespace meterly::state {
namespace {

using core::LimitWindow;
using core::UsageSnapshot;
using core::UsageSourceEvent;
using meterly::testing::LocalHTTPServer;
using meterly::testing::TempDir;
using testing::CountingUpdateChecks;
using testing::RecordingNotifier;
using testing::ScriptedSource;
using namespace std::chrono_literals;

constexpr core::Date start = VirtualTimeExecutor::defaultStart;

UsageSnapshot reading(double utilization, core::Date capturedAt = start) {
    return UsageSnapshot{LimitWindow{"allowed", utilization, start + 3600},
                         LimitWindow{"allowed", 0.1, start + 86400}, "five_hour", std::nullopt,
                         capturedAt};
}

class UsageViewModelTest : public ::testing::Test {
protected:
    UsageViewModelTest() { model = makeModel(); }

    std::unique_ptr<UsageViewModel> makeModel() {
        return std::make_unique<UsageViewModel>(main, defaults, nullptr, notifier, updates);
    }

    bool runUntil(const std::function<bool()>& done) { return main.runUntil(done, 10s); }

    VirtualTimeExecutor main;
    MemoryPreferences defaults;
    std::shared_ptr<RecordingNotifier> notifier = std::make_shared<RecordingNotifier>();
    std::shared_ptr<CountingUpdateChecks> updates = std::make_shared<CountingUpdateChecks>();
    std::unique_ptr<UsageViewModel> model;
};

std::string statusDocument(double utilization) {
    return R"({"available":true,"requestsSeen":7,"lastRequestAt":1799999990,)"
           R"("capturedAt":1799999995,"representativeClaim":"five_hour",)"
           R"("fiveHour":{"status":"allowed","utilization":)" +
           std::to_string(utilization) +
           R"(,"resetAt":1800003600},"sevenDay":{"status":"allowed","utilization":0.1,)"
           R"("resetAt":1800086400}})";
}

TEST_F(UsageViewModelTest, FollowsTheProxysStatusEndpoint) {
    std::mutex mutex;
    std::string body = statusDocument(0.25);
    int status = 200;
    LocalHTTPServer server([&](const std::string&) -> std::optional<std::string> {
        std::lock_guard lock(mutex);
        return LocalHTTPServer::reply(status == 200 ? "HTTP/1.1 200 OK" : "HTTP/1.1 503 Busy",
                                      body);
    });
    auto serve = [&](int code, std::string text) {
        std::lock_guard lock(mutex);
        status = code;
        body = std::move(text);
    };
    // The readings run as jobs of the virtual-time executor: each 2 s advanced takes one more.
    meterly::testing::InlineWorker worker(main);
    auto readings = [&](int count) { main.advance(2 * count); };
    model->start(
        std::make_shared<PollingUsageSource>(main, worker, proxy::StatusClient(server.port()), 2));

    ASSERT_TRUE(runUntil([&] { return model->snapshot().has_value(); }));
    EXPECT_DOUBLE_EQ(model->snapshot()->fiveHour->utilization, 0.25);
    EXPECT_EQ(model->snapshot()->capturedAt, 1799999995);
    EXPECT_EQ(model->proxyRequestsSeen(), 7);
    EXPECT_EQ(model->proxyLastRequestAt(), 1799999990);
    EXPECT_FALSE(model->pollFailure());
    ASSERT_EQ(notifier->refreshes.size(), 1u);
    EXPECT_EQ(notifier->refreshes[0].snapshot, model->snapshot());
    EXPECT_EQ(notifier->refreshes[0].now, main.now());

    serve(503, "{}");
    readings(3);
    ASSERT_TRUE(runUntil([&] { return model->pollFailure() == 3; }));
    readings(12);
    ASSERT_TRUE(runUntil([&] { return model->pollFailure() == 15; }));
    EXPECT_TRUE(model->snapshot()) << "failures keep the last reading";

    // The proxy answers again with the reading it had: the failure clears, the notifier is not
    // asked again.
    serve(200, statusDocument(0.25));
    readings(1);
    ASSERT_TRUE(runUntil([&] { return !model->pollFailure(); }));
    EXPECT_EQ(notifier->refreshes.size(), 1u);

    serve(200, statusDocument(0.6));
    readings(1);
    ASSERT_TRUE(runUntil([&] { return notifier->refreshes.size() == 2; }));
    EXPECT_DOUBLE_EQ(model->snapshot()->fiveHour->utilization, 0.6);
    model->stop();
}

TEST_F(UsageViewModelTest, StatusEventsUpdateTheProxyCountsAndKeepTheSnapshot) {
    auto source = std::make_shared<ScriptedSource>(main);
    model->start(source);
    int changes = 0;
    auto subscription = model->changed().connect([&] { ++changes; });

    source->send(UsageSourceEvent::status(reading(0.3), 4, start - 5));
    ASSERT_TRUE(runUntil([&] { return notifier->refreshes.size() == 1; }));
    const int afterFirst = changes;

    // The same event again changes nothing and does not reach the notifier.
    source->send(UsageSourceEvent::status(reading(0.3), 4, start - 5));
    source->send(UsageSourceEvent::status(std::nullopt, 5, std::nullopt));
    ASSERT_TRUE(runUntil([&] { return model->proxyRequestsSeen() == 5; }));
    EXPECT_EQ(changes, afterFirst + 2) << "requests seen and the last request time";
    EXPECT_EQ(model->snapshot(), reading(0.3));
    EXPECT_FALSE(model->proxyLastRequestAt());
    EXPECT_EQ(notifier->refreshes.size(), 1u);

    source->send(UsageSourceEvent::unreachable(3));
    ASSERT_TRUE(runUntil([&] { return model->pollFailure() == 3; }));
    EXPECT_EQ(model->proxyRequestsSeen(), 5) << "a failure changes nothing else";
}

TEST_F(UsageViewModelTest, HandlesEventsOneAtATimeInOrder) {
    auto source = std::make_shared<ScriptedSource>(main);
    model->start(source);
    std::vector<std::int64_t> seenAtRefresh;
    notifier->onRefresh = [&] { seenAtRefresh.push_back(*model->proxyRequestsSeen()); };
    for (int i = 1; i <= 20; ++i) {
        source->send(UsageSourceEvent::status(reading(0.01 * i), i, std::nullopt));
    }
    ASSERT_TRUE(runUntil([&] { return notifier->refreshes.size() == 20; }));
    // Each refresh saw its own event's count: no later event was applied before it.
    for (std::size_t i = 0; i < seenAtRefresh.size(); ++i) {
        EXPECT_EQ(seenAtRefresh[i], static_cast<std::int64_t>(i + 1));
        EXPECT_DOUBLE_EQ(notifier->refreshes[i].snapshot->fiveHour->utilization,
                         0.01 * double(i + 1));
    }
}

TEST_F(UsageViewModelTest, StartingTwiceLeavesOneOfEachLoop) {
    auto first = std::make_shared<ScriptedSource>(main);
    auto second = std::make_shared<ScriptedSource>(main);
    model->start(first);
    model->start(second);
    EXPECT_EQ(notifier->primes, 2);
    EXPECT_EQ(updates->checksNow, 2);

    main.advance(3);
    EXPECT_EQ(notifier->ticks, (std::vector<core::Date>{start + 1, start + 2, start + 3}));
    EXPECT_EQ(model->now(), start + 3);

    EXPECT_EQ(first->send(UsageSourceEvent::unreachable(3)), core::YieldResult::terminated);
    second->send(UsageSourceEvent::unreachable(15));
    ASSERT_TRUE(runUntil([&] { return model->pollFailure() == 15; }));

    main.advance(600);
    EXPECT_EQ(updates->checksIfDue, 1);
    main.advance(600);
    EXPECT_EQ(updates->checksIfDue, 2);
}

TEST_F(UsageViewModelTest, StopEndsEveryLoop) {
    model->stop(); // before any start: nothing to do
    auto source = std::make_shared<ScriptedSource>(main);
    model->start(source);
    main.advance(2);
    model->stop();
    main.advance(1200);
    EXPECT_EQ(notifier->ticks.size(), 2u);
    EXPECT_EQ(updates->checksIfDue, 0);
    EXPECT_EQ(model->now(), start + 2);
    EXPECT_EQ(source->send(UsageSourceEvent::unreachable(3)), core::YieldResult::terminated);
    EXPECT_EQ(main.pendingTimers(), 0u);
    EXPECT_EQ(notifier->primes, 1) << "stop does not prime";
}

TEST_F(UsageViewModelTest, APassThatStopsTheModelFinishes) {
    auto source = std::make_shared<ScriptedSource>(main);
    model->start(source);
    // An observer that stops the model as soon as a reading arrives.
    auto subscription = model->changed().connect([&] {
        if (model->snapshot()) {
            model->stop();
        }
    });
    source->send(UsageSourceEvent::status(reading(0.3), 1, std::nullopt));
    source->send(UsageSourceEvent::status(reading(0.4), 2, std::nullopt));
    ASSERT_TRUE(runUntil([&] { return model->snapshot().has_value(); }));
    main.runUntil([] { return false; }, 50ms);
    EXPECT_EQ(notifier->refreshes.size(), 1u) << "the pass that stopped it completes";
    EXPECT_EQ(model->snapshot(), reading(0.3)) << "the next event is dropped";
    EXPECT_EQ(source->send(UsageSourceEvent::unreachable(3)), core::YieldResult::terminated);
}

TEST_F(UsageViewModelTest, TheEndOfTheStreamEndsOnlyTheListening) {
    auto source = std::make_shared<ScriptedSource>(main);
    model->start(source);
    source->send(UsageSourceEvent::unreachable(3));
    source->finish();
    ASSERT_TRUE(runUntil([&] { return model->pollFailure() == 3; }));
    main.advance(2);
    EXPECT_EQ(notifier->ticks.size(), 2u);
}

TEST_F(UsageViewModelTest, ReleasingTheModelEndsItsLoops) {
    auto source = std::make_shared<ScriptedSource>(main);
    model->start(source);
    source->send(UsageSourceEvent::status(reading(0.3), 1, std::nullopt));
    ASSERT_TRUE(runUntil([&] { return notifier->refreshes.size() == 1; }));
    model.reset();
    main.advance(1200);
    EXPECT_TRUE(notifier->ticks.empty());
    EXPECT_EQ(updates->checksIfDue, 0);
    EXPECT_EQ(source->send(UsageSourceEvent::unreachable(3)), core::YieldResult::terminated);
}

TEST_F(UsageViewModelTest, PreferenceChangesPrimeThenReplanWithTheCurrentSnapshot) {
    auto source = std::make_shared<ScriptedSource>(main);
    model->start(source);
    source->send(UsageSourceEvent::status(reading(0.3), 1, std::nullopt));
    ASSERT_TRUE(runUntil([&] { return model->snapshot().has_value(); }));
    main.advance(5);
    notifier->events.clear();
    model->notificationPreferencesChanged();
    main.runReady();
    EXPECT_EQ(notifier->events, (std::vector<const char*>{"prime", "preferencesChanged"}));
    ASSERT_EQ(notifier->preferenceChanges.size(), 1u);
    EXPECT_EQ(notifier->preferenceChanges[0].snapshot, reading(0.3));
    EXPECT_EQ(notifier->preferenceChanges[0].now, start + 5);
}

TEST_F(UsageViewModelTest, RunwaySwitchesLiveInThePreferences) {
    EXPECT_TRUE(model->showsFiveHourRunwayWarning());
    EXPECT_TRUE(model->showsSevenDayRunwayWarning());
    EXPECT_FALSE(defaults.object(UsageViewModel::fiveHourRunwayWarningKey))
        << "reading writes nothing";

    defaults.set(PreferenceValue(std::string("no")), UsageViewModel::fiveHourRunwayWarningKey);
    defaults.set(PreferenceValue(false), UsageViewModel::sevenDayRunwayWarningKey);
    model = makeModel();
    EXPECT_TRUE(model->showsFiveHourRunwayWarning()) << "a text counts as on";
    EXPECT_FALSE(model->showsSevenDayRunwayWarning());
    EXPECT_TRUE(model->showsRunwayWarnings()) << "one switch on is enough";

    int changes = 0;
    auto subscription = model->changed().connect([&] { ++changes; });
    model->setShowsFiveHourRunwayWarning(true);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(defaults.object(UsageViewModel::fiveHourRunwayWarningKey), PreferenceValue(true))
        << "an equal assignment is still written";

    model->setShowsRunwayWarnings(false);
    EXPECT_FALSE(model->showsFiveHourRunwayWarning());
    EXPECT_FALSE(model->showsSevenDayRunwayWarning());
    EXPECT_FALSE(model->showsRunwayWarnings());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(defaults.object(UsageViewModel::fiveHourRunwayWarningKey), PreferenceValue(false));
    EXPECT_EQ(defaults.object(UsageViewModel::sevenDayRunwayWarningKey), PreferenceValue(false));
}

TEST_F(UsageViewModelTest, WithoutAnUpdateStateNoChecksAreScheduled) {
    auto bare = std::make_unique<UsageViewModel>(main, defaults, nullptr, notifier, nullptr);
    bare->start(std::make_shared<ScriptedSource>(main));
    main.advance(1);
    EXPECT_EQ(main.pendingTimers(), 1u) << "the tick alone";
}

// The app's construction: its own switches, delivery and limit notifier.
TEST(UsageViewModelAlertsTest, AlertsReachTheDesktopOnceEach) {
    VirtualTimeExecutor main;
    MemoryPreferences defaults;
    meterly::testing::FakeNotificationCentre centre;
    meterly::testing::FakeNotificationFallback fallback;
    centre.immediateAnswer = false; // no centre: the fallback shows them
    UsageViewModel model(main, defaults, centre, fallback, nullptr);
    EXPECT_TRUE(model.notifications()->isEnabled(NotificationKind::remaining50));

    auto source = std::make_shared<ScriptedSource>(main);
    model.start(source);
    main.runReady();
    EXPECT_EQ(centre.authorizationRequests, 1);

    source->send(UsageSourceEvent::status(reading(0.55), 1, std::nullopt));
    source->send(UsageSourceEvent::status(reading(0.55), 2, std::nullopt));
    ASSERT_TRUE(main.runUntil([&] { return model.proxyRequestsSeen() == 2; }, 10s));
    // The five-hour window resets an hour after the start: the tick delivers it.
    main.advance(3600);
    std::vector<std::string> titles;
    for (const auto& shown : fallback.shown) {
        titles.push_back(shown.title);
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"50% limit remaining", "5-hour limit reset"}));
    EXPECT_TRUE(centre.shown.empty());

    // A switch turned off reaches the notifier through the model.
    model.notifications()->setEnabled(false, NotificationKind::weekReset);
    model.notificationPreferencesChanged();
    main.advance(86400);
    EXPECT_EQ(fallback.shown.size(), 2u) << "the week's reset was switched off";
    model.stop();
}

// The history loop over a real store and a transcript tree in a temporary folder.
class UsageViewModelHistoryTest : public UsageViewModelTest {
protected:
    UsageViewModelHistoryTest() {
        write("app/session.jsonl", {{"m1", start - 2 * 3600, 3'000}, {"m2", start - 1800, 1'000}});
        store = std::make_shared<history::UsageHistoryStore>(tmp.path() / "projects", 2'592'000,
                                                             tmp.path() / "home");
        subscription_ = model->changed().connect([this] {
            if (model->history() &&
                (reports.empty() || reports.back() != model->history()->generatedAt)) {
                reports.push_back(model->history()->generatedAt);
            }
        });
    }

    struct Line {
        const char* id;
        core::Date at;
        int input;
    };
    void write(const std::string& file, std::vector<Line> lines) {
        std::filesystem::create_directories(tmp.path() / "projects" / "app");
        std::ofstream out(tmp.path() / "projects" / file, std::ios::app);
        for (const auto& line : lines) {
            const auto seconds = static_cast<std::time_t>(line.at);
            std::tm utc{};
            ::gmtime_r(&seconds, &utc);
            char stamp[32];
            std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
            out << R"({"type":"assistant","timestamp":")" << stamp
                << R"(","sessionId":"s1","cwd":"/work/app","message":{"id":")" << line.id
                << R"(","model":"claude-x","usage":{"input_tokens":)" << line.input
                << R"(,"output_tokens":0}}})"
                << "\n";
        }
    }

    TempDir tmp;
    std::shared_ptr<history::UsageHistoryStore> store;
    std::vector<core::Date> reports;
    Subscription subscription_;
};

TEST_F(UsageViewModelHistoryTest, RefreshesOnAWorkerAtEveryInterval) {
    model->startHistory(store, 30);
    ASSERT_TRUE(runUntil([&] { return reports.size() == 1; }));
    EXPECT_EQ(reports[0], start);
    EXPECT_EQ(model->history()->lastFiveHours.usage.totalTokens(), 4'000);

    write("app/session.jsonl", {{"m3", start + 10, 500}});
    main.advance(30);
    ASSERT_TRUE(runUntil([&] { return reports.size() == 2; }));
    EXPECT_EQ(reports[1], start + 30);
    EXPECT_EQ(model->history()->lastFiveHours.usage.totalTokens(), 4'500);

    // Started again five seconds later: one loop, which refreshes at once. The old loop would
    // have refreshed at +60.
    main.advance(5);
    model->startHistory(store, 30);
    ASSERT_TRUE(runUntil([&] { return reports.size() == 3; }));
    for (std::size_t pass = 4; pass <= 5; ++pass) {
        main.advance(30);
        ASSERT_TRUE(runUntil([&] { return reports.size() == pass; }));
    }
    EXPECT_EQ(reports,
              (std::vector<core::Date>{start, start + 30, start + 35, start + 65, start + 95}));

    // Stopped while it sleeps: no refresh follows.
    model->stop();
    main.advance(300);
    EXPECT_EQ(main.pendingTimers(), 0u);
    main.runUntil([&] { return reports.size() > 5; }, 50ms);
    EXPECT_EQ(reports.size(), 5u);
}

TEST_F(UsageViewModelHistoryTest, ReleasedWhileARefreshRuns) {
    model->startHistory(store, 30);
    model.reset(); // waits for the refresh on the worker; its report goes nowhere
    main.advance(60);
    EXPECT_EQ(main.pendingTimers(), 0u);
    EXPECT_TRUE(reports.empty());
}

TEST_F(UsageViewModelHistoryTest, TheEstimatesReadTheSnapshotAndTheHistory) {
    auto source = std::make_shared<ScriptedSource>(main);
    model->start(source);
    // The five-hour window opened two hours ago, with the first transcript entry, and is 40% used.
    UsageSnapshot snapshot = reading(0.4);
    snapshot.fiveHour->resetAt = start + 3 * 3600;
    source->send(UsageSourceEvent::status(snapshot, 1, std::nullopt));
    ASSERT_TRUE(runUntil([&] { return model->snapshot().has_value(); }));
    EXPECT_FALSE(model->fiveHourRunway()) << "no history yet";
    EXPECT_FALSE(model->sessionGate());
    EXPECT_FALSE(model->windowFill());

    model->startHistory(store, 30);
    ASSERT_TRUE(runUntil([&] { return model->history().has_value(); }));
    auto fill = model->windowFill();
    ASSERT_TRUE(fill);
    ASSERT_EQ(fill->windows.size(), 1u);
    EXPECT_TRUE(fill->windows.back().isActive);
    EXPECT_EQ(fill->windows.back().tokens, 4'000);
    EXPECT_EQ(fill->capReading, (WindowFillSeries::CapReading{10'000, 0.4}));
    EXPECT_TRUE(model->sessionGate());
    EXPECT_TRUE(model->sessionGate()->isActive());

    // 4,000 tokens over five hours at 40%: the remaining 60% last 27,000 s, past the reset.
    EXPECT_FALSE(model->fiveHourRunway());
    snapshot.fiveHour->utilization = 0.9;
    source->send(UsageSourceEvent::status(snapshot, 2, std::nullopt));
    ASSERT_TRUE(runUntil([&] { return model->proxyRequestsSeen() == 2; }));
    ASSERT_TRUE(model->fiveHourRunway());
    EXPECT_NEAR(model->fiveHourRunway()->timeUntilExhausted, 18'000 * 0.1 / 0.9, 1e-6);
    EXPECT_FALSE(model->sevenDayRunway()) << "the week's pace leaves it plenty";

    // A reading too low to imply a cap keeps the one already held.
    const auto held = model->windowFill()->capReading;
    EXPECT_EQ(held, (WindowFillSeries::CapReading{4'444, 0.9}));
    snapshot.fiveHour->utilization = 0.05;
    source->send(UsageSourceEvent::status(snapshot, 3, std::nullopt));
    ASSERT_TRUE(runUntil([&] { return model->proxyRequestsSeen() == 3; }));
    EXPECT_EQ(model->windowFill()->capReading, held);
}

} // namespace
} // namespace meterly::state
