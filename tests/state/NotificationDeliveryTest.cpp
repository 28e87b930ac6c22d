#include "state/NotificationDelivery.hpp"

#include "support/VirtualTimeExecutor.hpp"
#include "support/FakeNotifications.hpp"

#include <gtest/gtest.h>
#include <memory>

namespace meterly::state {
namespace {

using testing::ShownNotification;

class NotificationDeliveryTest : public ::testing::Test {
protected:
    VirtualTimeExecutor main;
    testing::FakeNotificationCentre centre;
    testing::FakeNotificationFallback fallback;
    std::unique_ptr<NotificationDelivery> delivery =
        std::make_unique<NotificationDelivery>(main, centre, fallback);

    void primeWith(bool authorized) {
        centre.immediateAnswer = authorized;
        delivery->prime();
        main.runReady();
    }
};

TEST_F(NotificationDeliveryTest, UntilDecidedTheFallbackShowsAndNothingIsKept) {
    EXPECT_FALSE(delivery->usesSystemCentre());
    delivery->deliverNow("id", "Title", "Body");
    delivery->schedule("later", "T", "B", main.now() + 60);
    delivery->cancel({"later"});
    EXPECT_EQ(fallback.shown, (std::vector<ShownNotification>{{"", "Title", "Body"}}));
    EXPECT_TRUE(centre.shown.empty());
    EXPECT_TRUE(delivery->scheduledIdentifiers().empty());
    EXPECT_EQ(main.pendingTimers(), 0u);
}

TEST_F(NotificationDeliveryTest, PrimeDecidesOnceFromTheCentresAnswer) {
    int done = 0;
    delivery->prime([&] { ++done; });
    delivery->prime([&] { ++done; }); // while the first is still deciding
    EXPECT_EQ(centre.authorizationRequests, 1);
    delivery->deliverNow("early", "Early", "B");
    centre.answer(true);
    main.runReady();
    EXPECT_EQ(done, 2);
    EXPECT_EQ(delivery->usesSystemCentre(), true);
    EXPECT_TRUE(delivery->canSchedule());

    delivery->prime([&] { ++done; });
    main.runReady();
    EXPECT_EQ(done, 3);
    EXPECT_EQ(centre.authorizationRequests, 1) << "decided for the life of the process";

    delivery->deliverNow("now", "Now", "B");
    EXPECT_EQ(fallback.shown, (std::vector<ShownNotification>{{"", "Early", "B"}}));
    EXPECT_EQ(centre.shown, (std::vector<ShownNotification>{{"now", "Now", "B"}}));
}

TEST_F(NotificationDeliveryTest, ARefusalSelectsTheFallbackForGood) {
    primeWith(false);
    EXPECT_EQ(delivery->usesSystemCentre(), false);
    EXPECT_FALSE(delivery->canSchedule());
    delivery->deliverNow("id", "T", "B");
    EXPECT_EQ(fallback.shown.size(), 1u);
    EXPECT_TRUE(centre.shown.empty());
}

TEST_F(NotificationDeliveryTest, AKeptNotificationShowsOnceWhenDue) {
    primeWith(true);
    const core::Date due = main.now() + 3 * 3600 + 0.5;
    delivery->schedule("reset", "Reset", "Happy building", due);
    delivery->schedule("replaced", "Old", "B", due);
    delivery->schedule("replaced", "New", "B", due + 60);
    delivery->schedule("dropped", "T", "B", due);
    delivery->cancel({"dropped", "unknown"});
    delivery->cancel({});
    EXPECT_EQ(delivery->scheduledIdentifiers(), (std::vector<std::string>{"replaced", "reset"}));

    main.advance(due - main.now() - 0.1);
    EXPECT_TRUE(centre.shown.empty());
    main.advance(0.1);
    EXPECT_EQ(centre.shown, (std::vector<ShownNotification>{{"reset", "Reset", "Happy building"}}));
    main.advance(3600);
    EXPECT_EQ(centre.shown.size(), 2u);
    EXPECT_EQ(centre.shown.back(), (ShownNotification{"replaced", "New", "B"}));
    EXPECT_TRUE(delivery->scheduledIdentifiers().empty());
    EXPECT_EQ(main.pendingTimers(), 0u);
}

TEST_F(NotificationDeliveryTest, AClockThatJumpsPastTheDueTimeShowsItWithinTheRecheck) {
    primeWith(true);
    delivery->schedule("reset", "T", "B", main.now() + 7200);
    delivery->schedule("past", "P", "B", main.now() - 5);
    main.runReady();
    EXPECT_EQ(centre.shown, (std::vector<ShownNotification>{{"past", "P", "B"}}));

    // A suspend: the wall clock moves, the timers' own clock does not.
    main.jumpTo(main.now() + 10'000);
    main.advance(NotificationDelivery::recheckInterval);
    EXPECT_EQ(centre.shown.size(), 2u);
    EXPECT_EQ(centre.shown.back().identifier, "reset");
}

TEST_F(NotificationDeliveryTest, DestructionLeavesNoTimerBehind) {
    primeWith(true);
    delivery->schedule("reset", "T", "B", main.now() + 7200);
    delivery.reset();
    EXPECT_EQ(main.pendingTimers(), 0u);
    main.advance(7200);
    EXPECT_TRUE(centre.shown.empty());
}

} // namespace
} // namespace meterly::state
