#include "app/SelfDeletionWatch.hpp"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace meterly::app {
namespace {

const std::string bundle = "/Applications/Meterly.app";
const std::string executable = bundle + "/Contents/MacOS/meterly";

// What exists on the fake disk after each sleep of the watch.
enum class World { both, bundleOnly, gone };

struct Run {
    std::vector<core::Seconds> sleeps;
    bool confirmedGone = false;
};

// Runs the watch over one world per sleep; when the script runs out the watch is still watching.
Run watch(const std::vector<World>& script) {
    struct ScriptEnded {};
    Run run;
    World now = World::both;
    auto sleep = [&](core::Seconds seconds) {
        if (run.sleeps.size() == script.size()) {
            throw ScriptEnded{};
        }
        now = script[run.sleeps.size()];
        run.sleeps.push_back(seconds);
    };
    auto exists = [&](const std::string& path) {
        if (path == executable) {
            return now == World::both;
        }
        return path == bundle && now != World::gone;
    };
    SelfDeletionWatch watch(executable, sleep, exists);
    try {
        watch.waitForDeletion();
        run.confirmedGone = true;
    } catch (const ScriptEnded&) {
    }
    return run;
}

TEST(SelfDeletionWatchTest, MissesMustBeConsecutive) {
    auto run = watch({World::gone, World::both, World::gone, World::gone, World::both});
    EXPECT_FALSE(run.confirmedGone);
    EXPECT_EQ(run.sleeps, (std::vector<core::Seconds>{20, 20, 20, 20, 20}));
}

TEST(SelfDeletionWatchTest, BackWithinTheRecheckRestartsTheCount) {
    auto run = watch({World::gone, World::gone, World::gone, World::both, World::gone, World::gone,
                      World::both});
    EXPECT_FALSE(run.confirmedGone);
    EXPECT_EQ(run.sleeps, (std::vector<core::Seconds>{20, 20, 20, 2, 20, 20, 20}));
}

TEST(SelfDeletionWatchTest, AnExecutableGoneFromAnExistingBundleIsNeverAMiss) {
    auto run = watch(std::vector<World>(8, World::bundleOnly));
    EXPECT_FALSE(run.confirmedGone);
    EXPECT_EQ(run.sleeps.size(), 8U);
}

TEST(SelfDeletionWatchTest, ThreeMissesAndTheRecheckConfirmTheDeletion) {
    auto run = watch({World::both, World::gone, World::gone, World::gone, World::gone});
    EXPECT_TRUE(run.confirmedGone);
    EXPECT_EQ(run.sleeps, (std::vector<core::Seconds>{20, 20, 20, 20, 2}));
}

} // namespace
} // namespace meterly::app
