#include "state/LimitAlertPlanner.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace meterly::state {
namespace {

using core::LimitWindow;
using core::UsageSnapshot;

constexpr core::Date now = 1'767'200'000;
constexpr core::Date reset = 1'767'225'600; // 2026-01-01 00:00:00 UTC

UsageSnapshot snapshot(std::optional<LimitWindow> fiveHour,
                       std::optional<LimitWindow> sevenDay = {}) {
    return UsageSnapshot{fiveHour, sevenDay, std::nullopt, std::nullopt, now};
}

LimitWindow window(double utilization, core::Date resetAt = reset) {
    return LimitWindow{"allowed", utilization, resetAt};
}

const auto allOn = [](NotificationKind) { return true; };

std::vector<std::string> identifiers(const std::vector<LimitAlert>& alerts) {
    std::vector<std::string> result;
    for (const auto& alert : alerts) {
        result.push_back(alert.identifier);
    }
    return result;
}

TEST(NotificationKindTest, FixedTextsAndKeys) {
    struct Row {
        NotificationKind kind;
        const char* raw;
        const char* title;
        const char* body;
        std::optional<double> threshold;
        LimitScope scope;
    };
    const Row rows[] = {
        {NotificationKind::remaining50, "remaining50", "50% limit remaining", "Halfway there", 0.5,
         LimitScope::fiveHour},
        {NotificationKind::remaining25, "remaining25", "25% limit remaining", "Limit running low",
         0.25, LimitScope::fiveHour},
        {NotificationKind::remaining10, "remaining10", "10% limit remaining", "Almost out", 0.1,
         LimitScope::fiveHour},
        {NotificationKind::fiveHourReset, "fiveHourReset", "5-hour limit reset", "Happy building",
         std::nullopt, LimitScope::fiveHour},
        {NotificationKind::weekReset, "weekReset", "Week limit reset", "Happy building",
         std::nullopt, LimitScope::sevenDay},
    };
    ASSERT_EQ(std::size(rows), allNotificationKinds.size());
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        EXPECT_EQ(allNotificationKinds[i], row.kind) << "declaration order";
        EXPECT_EQ(rawValue(row.kind), row.raw);
        EXPECT_EQ(title(row.kind), row.title);
        EXPECT_EQ(body(row.kind), row.body);
        EXPECT_EQ(remainingThreshold(row.kind), row.threshold);
        EXPECT_EQ(scope(row.kind), row.scope);
        EXPECT_EQ(isReset(row.kind), !row.threshold.has_value());
        EXPECT_EQ(preferenceKey(row.kind), std::string("meterly.notify.") + row.raw);
    }
    EXPECT_EQ(rawValue(LimitScope::fiveHour), "fiveHour");
    EXPECT_EQ(rawValue(LimitScope::sevenDay), "sevenDay");
}

TEST(LimitAlertPlannerTest, ThresholdAlertsDeepestFirst) {
    const std::string epoch = "1767225600";
    struct Case {
        std::optional<LimitWindow> fiveHour;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {window(0.3), {}},
        {window(0.49), {}},
        {window(0.5), {"meterly.threshold.remaining50." + epoch}},
        {window(0.7), {"meterly.threshold.remaining50." + epoch}},
        {window(0.75),
         {"meterly.threshold.remaining25." + epoch, "meterly.threshold.remaining50." + epoch}},
        {window(0.92),
         {"meterly.threshold.remaining10." + epoch, "meterly.threshold.remaining25." + epoch,
          "meterly.threshold.remaining50." + epoch}},
        {window(1.2),
         {"meterly.threshold.remaining10." + epoch, "meterly.threshold.remaining25." + epoch,
          "meterly.threshold.remaining50." + epoch}},
        {window(0), {}},
        {window(-0.5), {}},
        {std::nullopt, {}},
        {window(0.95, now), {}},     // resets now
        {window(0.95, now - 1), {}}, // reset already passed
        {window(0.95, reset + 0.999),
         {"meterly.threshold.remaining10." + epoch, "meterly.threshold.remaining25." + epoch,
          "meterly.threshold.remaining50." + epoch}},
    };
    for (const auto& c : cases) {
        const auto alerts =
            LimitAlertPlanner::thresholdAlerts(snapshot(c.fiveHour, window(0.99)), now);
        EXPECT_EQ(identifiers(alerts), c.expected) << (c.fiveHour ? c.fiveHour->utilization : -99);
        for (const auto& alert : alerts) {
            EXPECT_EQ(alert.fireAt, now);
            EXPECT_EQ(alert.title, title(alert.kind));
            EXPECT_EQ(alert.body, body(alert.kind));
            EXPECT_EQ(alert.scope(), LimitScope::fiveHour);
        }
    }
}

TEST(LimitAlertPlannerTest, ResetAlertsForUsedWindowsThatResetLater) {
    const LimitWindow week = window(0.2, reset + 86400 * 3);
    struct Case {
        UsageSnapshot snapshot;
        LimitAlertPlanner::Enabled enabled;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {snapshot(window(0.1), week),
         allOn,
         {"meterly.reset.fiveHour.1767225600", "meterly.reset.sevenDay.1767484800"}},
        {snapshot(std::nullopt, week), allOn, {"meterly.reset.sevenDay.1767484800"}},
        {snapshot(window(0), week), allOn, {"meterly.reset.sevenDay.1767484800"}},
        {snapshot(window(0.1, now)), allOn, {}},
        {snapshot(window(0.1), week),
         [](NotificationKind kind) { return kind != NotificationKind::fiveHourReset; },
         {"meterly.reset.sevenDay.1767484800"}},
        {snapshot(window(0.1), week), [](NotificationKind) { return false; }, {}},
        // Reset times that have no 64-bit epoch give no alert; one that does keeps its sign.
        {snapshot(window(0.1, 1e300), window(0.1, std::numeric_limits<double>::infinity())),
         allOn,
         {}},
        {snapshot(window(0.1, std::nan(""))), allOn, {}},
        {snapshot(window(0.1, 0x1p63), window(0.1, 0x1p62)),
         allOn,
         {"meterly.reset.sevenDay.4611686018427387904"}},
    };
    for (const auto& c : cases) {
        const auto alerts = LimitAlertPlanner::resetAlerts(c.snapshot, now, c.enabled);
        EXPECT_EQ(identifiers(alerts), c.expected);
        for (const auto& alert : alerts) {
            EXPECT_EQ(alert.body, "Happy building");
            EXPECT_EQ(alert.fireAt, alert.kind == NotificationKind::fiveHourReset
                                        ? c.snapshot.fiveHour->resetAt
                                        : c.snapshot.sevenDay->resetAt);
        }
    }
    const auto five = LimitAlertPlanner::resetAlert(snapshot(window(0.1)),
                                                    NotificationKind::fiveHourReset, now, allOn);
    ASSERT_TRUE(five);
    EXPECT_EQ(five->title, "5-hour limit reset");
    EXPECT_FALSE(LimitAlertPlanner::resetAlert(snapshot(window(0.1)), NotificationKind::remaining10,
                                               now, allOn))
        << "not a reset kind";
}

TEST(LimitAlertPlannerTest, EpochIsTruncatedTowardZero) {
    EXPECT_EQ(LimitAlertPlanner::epoch(1.9), 1);
    EXPECT_EQ(LimitAlertPlanner::epoch(-1.9), -1);
    EXPECT_EQ(LimitAlertPlanner::epoch(-0x1p63), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(LimitAlertPlanner::epoch(0x1p63), std::nullopt);
    EXPECT_EQ(LimitAlertPlanner::epoch(-1e300), std::nullopt);
    EXPECT_EQ(LimitAlertPlanner::epoch(std::nan("")), std::nullopt);

    const auto past = LimitAlertPlanner::thresholdAlerts(snapshot(window(0.6, -5.5)), -100);
    ASSERT_EQ(past.size(), 1u);
    EXPECT_EQ(past[0].identifier, "meterly.threshold.remaining50.-5");
}

TEST(LimitAlertPlannerTest, SameWindowSameIdentifiersNewWindowNewOnes) {
    const auto first = LimitAlertPlanner::thresholdAlerts(snapshot(window(0.6)), now);
    const auto again = LimitAlertPlanner::thresholdAlerts(snapshot(window(0.6)), now + 600);
    const auto rolled =
        LimitAlertPlanner::thresholdAlerts(snapshot(window(0.6, reset + 18000)), now + 600);
    EXPECT_EQ(identifiers(first), identifiers(again));
    EXPECT_NE(identifiers(first), identifiers(rolled));
}

TEST(LimitAlertPlannerTest, NextPicksTheFirstNewEnabledAlert) {
    const auto alerts = LimitAlertPlanner::thresholdAlerts(snapshot(window(0.92)), now);
    const auto off10 = [](NotificationKind kind) { return kind != NotificationKind::remaining10; };
    EXPECT_FALSE(LimitAlertPlanner::next({}, {}, allOn));
    EXPECT_EQ(LimitAlertPlanner::next(alerts, {}, allOn)->kind, NotificationKind::remaining10);
    EXPECT_EQ(LimitAlertPlanner::next(alerts, {}, off10)->kind, NotificationKind::remaining25);
    const std::set<std::string> first{alerts[0].identifier, alerts[1].identifier};
    EXPECT_EQ(LimitAlertPlanner::next(alerts, first, allOn)->kind, NotificationKind::remaining50);
    const std::set<std::string> all{alerts[0].identifier, alerts[1].identifier,
                                    alerts[2].identifier};
    EXPECT_FALSE(LimitAlertPlanner::next(alerts, all, allOn));
}

} // namespace
} // namespace meterly::state
