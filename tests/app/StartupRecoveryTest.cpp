#include "app/StartupRecovery.hpp"

#include "support/MemoryPreferences.hpp"
#include "support/ReadOnlyFolder.hpp"
#include "support/TempDir.hpp"
#include "support/TestImage.hpp"
#include "update/LaunchHealth.hpp"

#include <gtest/gtest.h>

namespace meterly::app {
namespace {

using update::LaunchHealth;

class StartupRecoveryTest : public ::testing::Test {
protected:
    void SetUp() override { testing::writeBundle(bundle, "app.meterly", "1.1", "failing"); }

    StartupRecovery::Outcome recover() {
        return StartupRecovery::run(
            defaults, bundle, update::UpdateInstaller(), [this] { ++relaunches; },
            [this](std::string_view line) { errors += line; });
    }
    void storeCount(state::PreferenceValue value) { defaults.set(value, LaunchHealth::key); }
    std::optional<state::PreferenceValue> count() const {
        return defaults.object(LaunchHealth::key);
    }

    testing::TempDir root;
    std::filesystem::path bundle = root.path() / "Applications" / "Meterly.app";
    std::filesystem::path kept = root.path() / "Applications" / ".meterly-previous-Meterly.app";
    state::MemoryPreferences defaults;
    int relaunches = 0;
    std::string errors;
};

TEST_F(StartupRecoveryTest, BelowThreeTheLaunchIsOnlyCounted) {
    testing::writeBundle(kept, "app.meterly", "1.0.7", "previous");
    for (const auto& [stored, after] :
         std::vector<std::pair<std::optional<state::PreferenceValue>, std::int64_t>>{
             {std::nullopt, 1},
             {state::PreferenceValue(std::int64_t{2}), 3},
             {state::PreferenceValue(std::string("3")), 1},
         }) {
        defaults.set(stored, LaunchHealth::key);
        EXPECT_EQ(recover(), StartupRecovery::Outcome::goOn);
        EXPECT_EQ(count(), state::PreferenceValue(after));
    }
    EXPECT_EQ(relaunches, 0);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(root.read(bundle / "Contents/MacOS/meterly"), "failing");
}

TEST_F(StartupRecoveryTest, AtThreeTheKeptCopyComesBackAndIsRelaunchedUncounted) {
    testing::writeBundle(kept, "app.meterly", "1.0.7", "previous");
    storeCount(state::PreferenceValue(std::int64_t{3}));
    EXPECT_EQ(recover(), StartupRecovery::Outcome::relaunched);
    EXPECT_EQ(errors,
              "Meterly: three launches got nowhere; the previous version has been put back.\n");
    EXPECT_EQ(count(), state::PreferenceValue(std::int64_t{0}));
    EXPECT_EQ(relaunches, 1);
    EXPECT_EQ(root.read(bundle / "Contents/MacOS/meterly"), "previous");
    EXPECT_FALSE(std::filesystem::exists(kept));
}

TEST_F(StartupRecoveryTest, WithNothingToGoBackToTheLaunchGoesOnCountedOnce) {
    storeCount(state::PreferenceValue(std::int64_t{5}));
    EXPECT_EQ(recover(), StartupRecovery::Outcome::goOn);
    EXPECT_EQ(errors, "Meterly: launches are failing and there is no previous version to go back "
                      "to: replaceFailed(\"There is no kept copy of the previous version to go "
                      "back to.\")\n");
    EXPECT_EQ(count(), state::PreferenceValue(std::int64_t{1}));
    EXPECT_EQ(relaunches, 0);

    // The same outside a bundle.
    errors.clear();
    storeCount(state::PreferenceValue(std::int64_t{3}));
    bundle.clear();
    EXPECT_EQ(recover(), StartupRecovery::Outcome::goOn);
    EXPECT_NE(errors.find("replaceFailed(\"There is no kept copy"), std::string::npos);
}

TEST_F(StartupRecoveryTest, AnUnwritableFolderIsNamedAndTheLaunchGoesOn) {
    testing::writeBundle(kept, "app.meterly", "1.0.7", "previous");
    storeCount(state::PreferenceValue(std::int64_t{3}));
    testing::ReadOnlyFolder readOnly(bundle.parent_path());
    if (!readOnly.active()) {
        GTEST_SKIP() << "cannot make a folder read-only here";
    }
    EXPECT_EQ(recover(), StartupRecovery::Outcome::goOn);
    EXPECT_EQ(errors, "Meterly: launches are failing and there is no previous version to go back "
                      "to: destinationNotWritable(\"" +
                          bundle.parent_path().string() + "\")\n");
    EXPECT_EQ(count(), state::PreferenceValue(std::int64_t{1}));
    EXPECT_EQ(root.read(bundle / "Contents/MacOS/meterly"), "failing");
}

} // namespace
} // namespace meterly::app
