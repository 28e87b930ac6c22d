#include "StateTestSupport.hpp"
#include "ViewModelFakes.hpp"
#include "state/LiveStatus.hpp"
#include "support/MemoryPreferences.hpp"
#include "state/UsageViewModel.hpp"
#include "support/VirtualTimeExecutor.hpp"
#include "support/ScopedTimeZone.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <limits>

namespace meterly::state {
namespace {

using core::LimitWindow;
using core::UsageSnapshot;
using core::UsageSourceEvent;
using testing::localDate;

TEST(UsageViewModelTextsTest, CompactDuration) {
    const std::pair<double, const char*> cases[] = {
        {60, "1 min"},
        {300, "5 min"},
        {3599.9, "59 min"},
        {3600, "1h"},
        {7200, "2h"},
        {86399, "23h"},
        {86400, "1d"},
        {3 * 86400.0, "3d"},
        {1e300, "104249991374d"},
        {std::numeric_limits<double>::infinity(), "104249991374d"},
        {std::numeric_limits<double>::quiet_NaN(), "0 min"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(UsageViewModel::compactDuration(seconds), text) << seconds;
    }
}

TEST(UsageViewModelTextsTest, ClockDuration) {
    const std::pair<double, const char*> cases[] = {
        {5, "0:05"},
        {429, "7:09"},
        {59.5, "1:00"},
        {0.3, "0:00"},
        {3599.6, "1:00:00"},
        {11'229, "3:07:09"},
        {86399.5, "1d 0h"},
        {2 * 86400.0 + 5 * 3600, "2d 5h"},
        {86400 + 3600 + 60, "1d 1h"},
        {1e300, "104249991374d 7h"},
        {std::numeric_limits<double>::quiet_NaN(), "0:00"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(UsageViewModel::clockDuration(seconds), text) << seconds;
    }
}

TEST(UsageViewModelTextsTest, CompactTokens) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {999, "999"},        {1000, "1K"},
        {-5, "-5"},          {1'260'000, "1.3M"},
        {999'499, "999K"},   {999'500, "1000K"},
        {1'000'000, "1.0M"}, {std::numeric_limits<std::int64_t>::max(), "9223372036854.8M"},
    };
    for (const auto& [tokens, text] : cases) {
        EXPECT_EQ(UsageViewModel::compactTokens(tokens), text) << tokens;
    }
}

// A model whose snapshot is set through a scripted source and whose clock is moved by the test.
class UsageViewModelDerivedTest : public ::testing::Test {
protected:
    explicit UsageViewModelDerivedTest(core::Date begin = VirtualTimeExecutor::defaultStart,
                                       const char* zone = "UTC")
        : main(begin) {
        model = std::make_unique<UsageViewModel>(main, defaults, nullptr, notifier, nullptr,
                                                 englishIn(zone));
    }

public:
    // Texts in US English in the given time zone, whatever the process's locale.
    static std::shared_ptr<TextFormatter> englishIn(const std::string& zone) {
        return std::make_shared<TextFormatter>([zone](std::string_view name) {
            if (name == "LANG") {
                return std::optional<std::string>("en_US.UTF-8");
            }
            return name == "TZ" ? std::optional(zone) : std::nullopt;
        });
    }

protected:
    void show(const UsageSnapshot& snapshot) {
        if (!source) {
            source = std::make_shared<testing::ScriptedSource>(main);
            model->start(source);
        }
        source->send(UsageSourceEvent::status(snapshot, 1, std::nullopt));
        ASSERT_TRUE(main.runUntil([&] { return model->snapshot() == snapshot; }));
    }

    void fail() {
        source->send(UsageSourceEvent::unreachable(3));
        ASSERT_TRUE(main.runUntil([&] { return model->pollFailure().has_value(); }));
    }

    VirtualTimeExecutor main;
    MemoryPreferences defaults;
    std::shared_ptr<testing::RecordingNotifier> notifier =
        std::make_shared<testing::RecordingNotifier>();
    std::shared_ptr<testing::ScriptedSource> source;
    std::unique_ptr<UsageViewModel> model;
};

TEST_F(UsageViewModelDerivedTest, WithoutASnapshot) {
    EXPECT_FALSE(model->representative());
    EXPECT_FALSE(model->menuBarWindow());
    EXPECT_FALSE(model->isIdle());
    EXPECT_FALSE(model->lastActiveText());
    EXPECT_FALSE(model->fiveHourRunway());
    EXPECT_FALSE(model->sessionGate());
    EXPECT_FALSE(model->windowFill());
    EXPECT_EQ(liveStatus(*model), LiveStatus::quiet);
}

TEST_F(UsageViewModelDerivedTest, MenuBarWindowPrefersTheFiveHourWindow) {
    const LimitWindow five{"allowed", 0.2, main.now() + 100};
    const LimitWindow week{"allowed", 0.9, main.now() + 1000};
    show(UsageSnapshot{std::nullopt, week, std::nullopt, std::nullopt, main.now()});
    EXPECT_EQ(model->menuBarWindow(), week);
    show(UsageSnapshot{five, week, "seven_day", std::nullopt, main.now()});
    EXPECT_EQ(model->menuBarWindow(), five);
    EXPECT_EQ(model->representative(), week);
}

TEST_F(UsageViewModelDerivedTest, AgeIdleAndLiveStatus) {
    const core::Date now = main.now();
    struct Case {
        core::Date capturedAt;
        bool idle;
        std::optional<std::string> lastActive;
        LiveStatus status;
    };
    const Case cases[] = {
        {now - 59.9, false, std::nullopt, LiveStatus::live},
        {now - 60, false, "1 min", LiveStatus::live},
        {now - 599, false, "9 min", LiveStatus::live},
        {now - 599.9, false, "9 min", LiveStatus::live},
        {now - 600, true, "10 min", LiveStatus::quiet},
        {now - 3600, true, "1h", LiveStatus::quiet},
        {now + 50, false, std::nullopt, LiveStatus::live},
        {-1e300, true, "104249991374d", LiveStatus::quiet},
        {1e300, false, std::nullopt, LiveStatus::live},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.capturedAt - now);
        show(UsageSnapshot{LimitWindow{"allowed", 0.1, now + 60}, std::nullopt, std::nullopt,
                           std::nullopt, c.capturedAt});
        EXPECT_EQ(model->isIdle(), c.idle);
        EXPECT_EQ(model->lastActiveText(), c.lastActive);
        EXPECT_EQ(liveStatus(*model), c.status);
    }
}

TEST_F(UsageViewModelDerivedTest, AReadingAgesAlikeWhicheverWayTheWallClockSteps) {
    // The proxy stamps its readings with the wall clock. Set back an hour after a reading, the
    // clock puts its capture time in the future: it must still age, and go quiet ten minutes on.
    // Set forward, the reading must not look an hour old at once.
    const core::Date start = main.now();
    struct Case {
        const char* name;
        std::function<void()> step;
        bool asleep; // a suspend moves both clocks: the reading is that much older
    };
    const Case cases[] = {
        {"no step", [] {}, false},
        {"set back an hour", [&] { main.setWallClock(main.now() - 3600); }, false},
        {"set forward an hour", [&] { main.setWallClock(main.now() + 3600); }, false},
        {"set back a day", [&] { main.setWallClock(main.now() - 86400); }, false},
        {"asleep for an hour", [&] { main.jumpTo(main.now() + 3600); }, true},
    };
    double utilization = 0.1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        main.setWallClock(start);
        main.advance(1);     // the model's clock reads the wall clock on its tick
        utilization += 0.01; // a reading of its own for each case
        show(UsageSnapshot{LimitWindow{"allowed", utilization, start + 7200}, std::nullopt,
                           std::nullopt, std::nullopt, main.now()});
        main.advance(60);
        c.step();
        main.advance(60);
        EXPECT_EQ(model->lastActiveText(), c.asleep ? "1h" : "2 min");
        EXPECT_EQ(liveStatus(*model), c.asleep ? LiveStatus::quiet : LiveStatus::live);
        main.advance(479);
        EXPECT_EQ(model->isIdle(), c.asleep);
        main.advance(1);
        EXPECT_TRUE(model->isIdle());
        EXPECT_EQ(liveStatus(*model), LiveStatus::quiet);
    }
}

TEST_F(UsageViewModelDerivedTest, TheLastTrafficAgesAlikeWhicheverWayTheWallClockSteps) {
    // The proxy pane says how long ago the last request went through. Stamped by the proxy's
    // wall clock, that time must not turn into "in 58 minutes" when the clock is set back, nor
    // jump an hour into the past when it is set forward.
    const core::Date start = main.now();
    const UsageSnapshot snapshot{LimitWindow{"allowed", 0.1, start + 7200}, std::nullopt,
                                 std::nullopt, std::nullopt, start - 30};
    EXPECT_EQ(model->lastTrafficAt(), std::nullopt);
    show(snapshot);
    EXPECT_EQ(model->lastTrafficAt(), start - 30); // no request counted: the reading's capture

    source->send(UsageSourceEvent::status(snapshot, 2, start - 10));
    ASSERT_TRUE(main.runUntil([&] { return model->proxyLastRequestAt().has_value(); }));
    main.advance(60);
    EXPECT_EQ(model->lastTrafficAt(), main.now() - 70);
    for (const double step : {-3600.0, 7200.0}) {
        SCOPED_TRACE(step);
        main.setWallClock(main.now() + step);
        main.advance(1);
        // The same status again, as the poller sees it while nothing new goes through.
        source->send(UsageSourceEvent::status(snapshot, 2, start - 10));
        main.advance(1);
        const auto last = model->lastTrafficAt();
        ASSERT_TRUE(last.has_value());
        EXPECT_LE(*last, main.now());
        EXPECT_NEAR(main.now() - *last, 70 + (step < 0 ? 2 : 4), 1e-6);
    }
}

TEST_F(UsageViewModelDerivedTest, TheNewestReadingWinsWhateverItsCaptureTime) {
    const core::Date start = main.now();
    const LimitWindow window{"allowed", 0.1, start + 7200};
    show(UsageSnapshot{window, std::nullopt, std::nullopt, std::nullopt, start});
    main.advance(300);

    // The clock was set back an hour: the next reading was captured "before" the last one.
    main.setWallClock(start - 3300);
    main.advance(1);
    const UsageSnapshot later{LimitWindow{"allowed", 0.3, start + 7200}, std::nullopt, std::nullopt,
                              std::nullopt, main.now()};
    const auto refreshes = notifier->refreshes.size();
    show(later);
    EXPECT_EQ(model->snapshot(), later);
    EXPECT_EQ(notifier->refreshes.size(), refreshes + 1);
    EXPECT_FALSE(model->lastActiveText());
    main.advance(600);
    EXPECT_TRUE(model->isIdle());

    // A reading that was captured ahead of the clock when it arrived counts as new then.
    const UsageSnapshot ahead{LimitWindow{"allowed", 0.4, start + 7200}, std::nullopt, std::nullopt,
                              std::nullopt, main.now() + 3600};
    show(ahead);
    EXPECT_FALSE(model->isIdle());
    main.advance(599);
    EXPECT_FALSE(model->isIdle());
    main.advance(1);
    EXPECT_TRUE(model->isIdle());
}

TEST_F(UsageViewModelDerivedTest, APollFailureSilencesEvenAFreshSnapshot) {
    show(UsageSnapshot{LimitWindow{"allowed", 0.1, main.now() + 60}, std::nullopt, std::nullopt,
                       std::nullopt, main.now()});
    fail();
    EXPECT_EQ(liveStatus(*model), LiveStatus::silent);
    source->send(UsageSourceEvent::status(model->snapshot(), 2, std::nullopt));
    ASSERT_TRUE(main.runUntil([&] { return !model->pollFailure(); }));
    EXPECT_EQ(liveStatus(*model), LiveStatus::live);
}

TEST(LiveStatusTest, LabelsAndDetails) {
    EXPECT_EQ(label(LiveStatus::silent), "silent");
    EXPECT_EQ(label(LiveStatus::quiet), "quiet");
    EXPECT_EQ(label(LiveStatus::live), "live");
    EXPECT_EQ(detail(LiveStatus::silent),
              "The app cannot read the proxy's status. Claude Code may be unaffected \u2014 check "
              "the proxy pane in Settings.");
    EXPECT_EQ(detail(LiveStatus::quiet),
              "The proxy is running. Nothing has come through in the last 10 minutes \u2014 your "
              "next prompt clears this.");
    EXPECT_EQ(detail(LiveStatus::live), "Claude Code traffic is reaching the proxy right now.");
}

TEST_F(UsageViewModelDerivedTest, CountdownFollowsTheModelsClock) {
    const core::Date now = main.now();
    const std::pair<core::Date, const char*> cases[] = {
        {now + 11'229, "3:07:09"},    {now + 0.3, "0:00"},         {now, "resetting\u2026"},
        {now - 5, "resetting\u2026"}, {1e300, "104249991374d 7h"}, {-1e300, "resetting\u2026"},
    };
    for (const auto& [reset, text] : cases) {
        EXPECT_EQ(model->countdownText(LimitWindow{"allowed", 0.5, reset}), text) << reset - now;
    }
    show(UsageSnapshot{std::nullopt, std::nullopt, std::nullopt, std::nullopt, now});
    main.advance(9);
    EXPECT_EQ(model->countdownText(LimitWindow{"allowed", 0.5, now + 69}), "1:00");
}

struct ZoneFromParameter {
    meterly::testing::ScopedTimeZone zone{::testing::WithParamInterface<const char*>::GetParam()};
};

// The evening of 2027-01-15 in the zone of the parameter, both for the calendar and the texts.
class ResetClockTextTest : private ZoneFromParameter,
                           public UsageViewModelDerivedTest,
                           public ::testing::WithParamInterface<const char*> {
protected:
    ResetClockTextTest() : UsageViewModelDerivedTest(localDate(2027, 1, 15, 20), GetParam()) {}
};

// The reset clock switches from the time of day to the weekday form at local midnight.
TEST_P(ResetClockTextTest, SameDayOrWeekday) {
    const std::pair<core::Date, const char*> cases[] = {
        {localDate(2027, 1, 15, 23, 59, 59), "11:59 PM"},
        {localDate(2027, 1, 16, 0, 0, 0), "Sat 12:00 AM"},
        {localDate(2027, 1, 15, 0, 0, 0), "12:00 AM"},
        {localDate(2027, 1, 14, 23, 59, 59), "Thu 11:59 PM"},
        {localDate(2027, 1, 20, 9, 5), "Wed 9:05 AM"},
    };
    for (const auto& [reset, text] : cases) {
        EXPECT_EQ(model->resetClockText(LimitWindow{"allowed", 0.5, reset}), text) << reset;
    }
    // Far dates from a status document still give a text.
    for (double reset : {1e300, -1e300}) {
        EXPECT_FALSE(model->resetClockText(LimitWindow{"allowed", 0.5, reset}).empty());
    }
}

// One instant reads differently in the two zones: 2027-01-16 01:00 UTC is 8 PM the evening
// before in New York.
TEST(UsageViewModelResetClockTest, OneInstantInTwoZones) {
    struct Case {
        const char* zone;
        const char* soon;
        const char* tonight;
    };
    const Case cases[] = {{"UTC", "9:30 AM", "Sat 1:00 AM"},
                          {"America/New_York", "4:30 AM", "8:00 PM"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zone);
        meterly::testing::ScopedTimeZone zone(c.zone);
        VirtualTimeExecutor main; // 2027-01-15 08:00 UTC
        MemoryPreferences defaults;
        UsageViewModel model(main, defaults, nullptr,
                             std::make_shared<testing::RecordingNotifier>(), nullptr,
                             UsageViewModelDerivedTest::englishIn(c.zone));
        EXPECT_EQ(model.resetClockText(LimitWindow{"allowed", 0.5, main.now() + 5400}), c.soon);
        EXPECT_EQ(model.resetClockText(LimitWindow{"allowed", 0.5, main.now() + 17 * 3600.0}),
                  c.tonight);
        EXPECT_EQ(model.countdownText(LimitWindow{"allowed", 0.5, main.now() + 17 * 3600.0}),
                  "17:00:00");
    }
}

INSTANTIATE_TEST_SUITE_P(Zones, ResetClockTextTest, ::testing::Values("UTC", "America/New_York"));

} // namespace
} // namespace meterly::state
