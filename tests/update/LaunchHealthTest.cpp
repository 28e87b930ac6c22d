#include "update/LaunchHealth.hpp"

#include "support/MemoryPreferences.hpp"

#include <gtest/gtest.h>
#include <limits>

namespace meterly::update {
namespace {

TEST(LaunchHealthTest, ThreeLaunchesInARowThatGetNowhereCallForRecovery) {
    state::MemoryPreferences defaults;
    LaunchHealth health(defaults);
    EXPECT_EQ(health.incompleteLaunches(), 0);
    health.recordLaunchBegan();
    health.recordLaunchBegan();
    EXPECT_EQ(health.incompleteLaunches(), 2);
    EXPECT_FALSE(health.shouldRecover());
    health.recordLaunchBegan();
    EXPECT_TRUE(health.shouldRecover());
    EXPECT_EQ(defaults.object(LaunchHealth::key), state::PreferenceValue(std::int64_t{3}));

    // Reaching the tray starts the count over.
    health.recordReachedMenuBar();
    health.recordLaunchBegan();
    health.recordLaunchBegan();
    EXPECT_EQ(health.incompleteLaunches(), 2);
    EXPECT_FALSE(health.shouldRecover());
    health.reset();
    EXPECT_EQ(defaults.object(LaunchHealth::key), state::PreferenceValue(std::int64_t{0}));
}

TEST(LaunchHealthTest, AValueOfAnotherTypeCountsAsZero) {
    for (const state::PreferenceValue& stored :
         {state::PreferenceValue(std::string("7")), state::PreferenceValue(7.0),
          state::PreferenceValue(true), state::PreferenceValue(state::PreferenceDate{7})}) {
        state::MemoryPreferences defaults;
        defaults.set(stored, LaunchHealth::key);
        LaunchHealth health(defaults);
        EXPECT_EQ(health.incompleteLaunches(), 0);
        EXPECT_FALSE(health.shouldRecover());
        health.recordLaunchBegan();
        EXPECT_EQ(health.incompleteLaunches(), 1);
    }
}

TEST(LaunchHealthTest, TheCountStopsAtTheLargestInteger) {
    state::MemoryPreferences defaults;
    defaults.set(state::PreferenceValue(std::numeric_limits<std::int64_t>::max()),
                 LaunchHealth::key);
    LaunchHealth health(defaults);
    health.recordLaunchBegan();
    EXPECT_EQ(health.incompleteLaunches(), std::numeric_limits<std::int64_t>::max());
    EXPECT_TRUE(health.shouldRecover());
}

} // namespace
} // namespace meterly::update
