#include "state/LimitNotifier.hpp"

#include "support/MemoryPreferences.hpp"
#include "support/VirtualTimeExecutor.hpp"
#include "support/FakeNotifications.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace meterly::state {
namespace {

using core::LimitWindow;
using core::UsageSnapshot;
using testing::ShownNotification;

constexpr core::Date start = VirtualTimeExecutor::defaultStart;
constexpr core::Date fiveHourReset = start + 3 * 3600;
constexpr core::Date weekReset = start + 4 * 86400;

UsageSnapshot reading(double fiveHourUsed, core::Date fiveHourAt = fiveHourReset,
                      double weekUsed = 0.3, core::Date weekAt = weekReset) {
    return UsageSnapshot{LimitWindow{"allowed", fiveHourUsed, fiveHourAt},
                         LimitWindow{"allowed", weekUsed, weekAt}, std::nullopt, std::nullopt,
                         start};
}

std::string resetID(const char* scope, core::Date at) {
    return std::string("meterly.reset.") + scope + "." + std::to_string(static_cast<long long>(at));
}

class LimitNotifierTest : public ::testing::Test {
protected:
    VirtualTimeExecutor main;
    MemoryPreferences defaults;
    NotificationPreferences preferences{defaults};
    testing::FakeNotificationCentre centre;
    testing::FakeNotificationFallback fallback;
    NotificationDelivery delivery{main, centre, fallback};
    std::unique_ptr<LimitNotifier> notifier =
        std::make_unique<LimitNotifier>(preferences, delivery);

    // Primes the notifier with the centre answering `authorized`.
    void prime(bool authorized) {
        centre.immediateAnswer = authorized;
        notifier->prime();
        main.runReady();
    }
    std::vector<std::string> titles(const std::vector<ShownNotification>& shown) const {
        std::vector<std::string> result;
        for (const auto& notification : shown) {
            result.push_back(notification.title);
        }
        return result;
    }
    std::vector<std::string> allTitles() const {
        auto result = titles(centre.shown);
        for (auto& title : titles(fallback.shown)) {
            result.push_back(title);
        }
        return result;
    }
};

TEST_F(LimitNotifierTest, EachThresholdOncePerWindowTheDeepestOfSeveral) {
    prime(false);
    int done = 0;
    notifier->refresh(std::nullopt, start, [&] { ++done; });
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(notifier->delivered().empty());
    EXPECT_TRUE(notifier->pending().empty());

    notifier->refresh(reading(0.55), start);
    notifier->refresh(reading(0.60), start + 10);
    EXPECT_EQ(allTitles(), std::vector<std::string>{"50% limit remaining"});

    notifier->refresh(reading(0.92), start + 20); // 8% left: 25% is passed over
    notifier->refresh(reading(0.95), start + 30);
    EXPECT_EQ(allTitles(),
              (std::vector<std::string>{"50% limit remaining", "10% limit remaining"}));
    EXPECT_EQ(notifier->delivered().size(), 3u);

    // A new window starts afresh (the earlier window's reset, due by now, goes out first).
    notifier->refresh(reading(0.92, fiveHourReset + 18000), fiveHourReset + 1);
    EXPECT_EQ(allTitles(), (std::vector<std::string>{"50% limit remaining", "10% limit remaining",
                                                     "5-hour limit reset", "10% limit remaining"}));
    EXPECT_EQ(fallback.shown.back().body, "Almost out");
}

TEST_F(LimitNotifierTest, SwitchedOffThresholdsArePassedOverForTheWindow) {
    prime(false);
    preferences.setEnabled(false, NotificationKind::remaining10);
    notifier->refresh(reading(0.92), start);
    EXPECT_EQ(allTitles(), std::vector<std::string>{"25% limit remaining"});
    EXPECT_EQ(notifier->delivered().size(), 3u);

    preferences.setEnabled(true, NotificationKind::remaining10);
    notifier->preferencesChanged(reading(0.93), start + 5);
    EXPECT_EQ(allTitles().size(), 1u) << "crossed while off: not shown in this window";

    // After a restart nothing is remembered: the deepest enabled crossed threshold comes again.
    notifier = std::make_unique<LimitNotifier>(preferences, delivery);
    notifier->refresh(reading(0.93), start + 10);
    EXPECT_EQ(allTitles().back(), "10% limit remaining");
}

TEST_F(LimitNotifierTest, WithTheCentreOneResetIsKeptPerWindow) {
    prime(true);
    notifier->refresh(reading(0.2), start);
    notifier->refresh(reading(0.3), start + 5); // same window: nothing new
    EXPECT_EQ(delivery.scheduledIdentifiers(),
              (std::vector<std::string>{resetID("fiveHour", fiveHourReset),
                                        resetID("sevenDay", weekReset)}));

    // The next five-hour window replaces the earlier one's kept request.
    const core::Date next = fiveHourReset + 18000;
    notifier->refresh(reading(0.1, next), start + 60);
    EXPECT_EQ(
        delivery.scheduledIdentifiers(),
        (std::vector<std::string>{resetID("fiveHour", next), resetID("sevenDay", weekReset)}));

    // The centre shows it at the reset; tick never delivers anything itself.
    notifier->tick(next + 1);
    EXPECT_TRUE(centre.shown.empty());
    main.advance(next - main.now());
    EXPECT_EQ(centre.shown,
              (std::vector<ShownNotification>{
                  {resetID("fiveHour", next), "5-hour limit reset", "Happy building"}}));
    EXPECT_TRUE(fallback.shown.empty());
}

TEST_F(LimitNotifierTest, WithoutTheCentreTheFirstTickAtTheResetDeliversOnce) {
    prime(false);
    notifier->refresh(reading(0.2), start);
    EXPECT_EQ(notifier->pending().size(), 2u);
    EXPECT_TRUE(delivery.scheduledIdentifiers().empty());

    notifier->tick(fiveHourReset - 0.5);
    EXPECT_TRUE(fallback.shown.empty());
    notifier->tick(fiveHourReset);
    notifier->tick(fiveHourReset + 1);
    EXPECT_EQ(fallback.shown,
              (std::vector<ShownNotification>{{"", "5-hour limit reset", "Happy building"}}));
    EXPECT_EQ(notifier->pending().count(LimitScope::fiveHour), 0u);
    EXPECT_TRUE(notifier->delivered().contains(resetID("fiveHour", fiveHourReset)));

    // A later reading of the same (now past) window plans nothing again.
    notifier->refresh(reading(0.2), fiveHourReset + 2);
    notifier->tick(fiveHourReset + 3);
    EXPECT_EQ(fallback.shown.size(), 1u);
}

TEST_F(LimitNotifierTest, SwitchingAResetOffDropsItAndOnPlansItAnew) {
    prime(true);
    notifier->refresh(reading(0.2), start);
    preferences.setEnabled(false, NotificationKind::weekReset);
    notifier->preferencesChanged(reading(0.2), start + 1);
    EXPECT_EQ(notifier->pending().count(LimitScope::sevenDay), 0u);
    EXPECT_EQ(delivery.scheduledIdentifiers(),
              std::vector<std::string>{resetID("fiveHour", fiveHourReset)});

    preferences.setEnabled(true, NotificationKind::weekReset);
    notifier->preferencesChanged(reading(0.2), start + 2);
    EXPECT_EQ(notifier->pending().count(LimitScope::sevenDay), 1u);
    EXPECT_EQ(delivery.scheduledIdentifiers().size(), 2u);

    notifier->cancel();
    EXPECT_TRUE(notifier->pending().empty());
    EXPECT_TRUE(delivery.scheduledIdentifiers().empty());
}

// A reset planned while the delivery was still deciding is handed to the centre once it has
// decided, instead of waiting for a tick that never delivers with the centre.
TEST_F(LimitNotifierTest, AResetPlannedBeforePrimeFinishedIsScheduledAfterwards) {
    notifier->prime();
    notifier->refresh(reading(0.2), start);
    EXPECT_TRUE(delivery.scheduledIdentifiers().empty());
    centre.answer(true);
    main.runReady();
    EXPECT_EQ(delivery.scheduledIdentifiers().size(), 2u);

    notifier->refresh(reading(0.2), start + 10);
    main.advance(fiveHourReset - main.now());
    EXPECT_EQ(titles(centre.shown), std::vector<std::string>{"5-hour limit reset"});
}

// Without the centre, a reading of the next window that comes before any tick after the reset
// (after a suspend, say) does not swallow the reset alert that was already due.
TEST_F(LimitNotifierTest, ADueResetIsDeliveredBeforeTheNextWindowReplacesIt) {
    prime(false);
    notifier->refresh(reading(0.2), start);
    const core::Date wake = fiveHourReset + 600;
    notifier->refresh(reading(0.05, fiveHourReset + 18000), wake);
    EXPECT_EQ(titles(fallback.shown), std::vector<std::string>{"5-hour limit reset"});
    EXPECT_EQ(notifier->pending().at(LimitScope::fiveHour).fireAt, fiveHourReset + 18000);
    notifier->tick(wake + 1);
    EXPECT_EQ(fallback.shown.size(), 1u);

    // One not yet due is replaced silently.
    notifier->refresh(reading(0.05, fiveHourReset + 36000), wake + 2);
    EXPECT_EQ(fallback.shown.size(), 1u);
}

TEST_F(LimitNotifierTest, ResetTimesBeyondAnyEpochGiveNoAlert) {
    prime(true);
    for (const double at : {1e300, -1e300, std::nan("")}) {
        notifier->refresh(reading(0.99, at, 0.99, at), start);
        notifier->tick(start + 1);
    }
    EXPECT_TRUE(notifier->pending().empty());
    EXPECT_TRUE(allTitles().empty());
}

} // namespace
} // namespace meterly::state
