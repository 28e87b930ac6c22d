#include "state/NotificationPreferences.hpp"

#include "support/MemoryPreferences.hpp"

#include <gtest/gtest.h>
#include <string>

namespace meterly::state {
namespace {

constexpr const char* migrated = "meterly.notify.didMigrateResetToggle";
constexpr const char* legacy = "meterly.notifyOnReset";

// Records which keys the preferences write.
class RecordingPreferences final : public UpdateCheckStore {
public:
    MemoryPreferences values;
    std::vector<std::string> writes;
    std::optional<PreferenceValue> object(std::string_view key) const override {
        return values.object(key);
    }
    void set(std::optional<PreferenceValue> value, std::string_view key) override {
        writes.emplace_back(key);
        values.set(std::move(value), key);
    }
};

std::vector<bool> switches(const NotificationPreferences& preferences) {
    std::vector<bool> result;
    for (const auto kind : allNotificationKinds) {
        result.push_back(preferences.isEnabled(kind));
    }
    return result;
}

TEST(NotificationPreferencesTest, AFreshDomainHasEverySwitchOnAndOnlyTheFlagWritten) {
    RecordingPreferences defaults;
    const NotificationPreferences preferences(defaults);
    EXPECT_EQ(switches(preferences), std::vector<bool>(5, true));
    EXPECT_EQ(defaults.writes, std::vector<std::string>{migrated});
    EXPECT_EQ(defaults.object(migrated), PreferenceValue(true));
}

TEST(NotificationPreferencesTest, TheEarlierResetSwitchMigratesOnce) {
    struct Case {
        std::optional<PreferenceValue> legacyValue;
        std::vector<bool> expected;
    };
    const Case cases[] = {
        {false, {true, true, true, false, false}},
        {true, std::vector<bool>(5, true)},
        {std::string("false"), std::vector<bool>(5, true)},
        {std::int64_t{0}, std::vector<bool>(5, true)},
        {std::nullopt, std::vector<bool>(5, true)},
    };
    for (const auto& c : cases) {
        RecordingPreferences defaults;
        defaults.values.set(c.legacyValue, legacy);
        const NotificationPreferences preferences(defaults);
        EXPECT_EQ(switches(preferences), c.expected);
        EXPECT_EQ(defaults.object(migrated), PreferenceValue(true));
        EXPECT_EQ(defaults.object(legacy), c.legacyValue) << "the earlier key stays";
    }

    // Created again after the user turned the week reset back on: no second migration.
    RecordingPreferences defaults;
    defaults.values.set(false, legacy);
    {
        NotificationPreferences first(defaults);
        first.setEnabled(true, NotificationKind::weekReset);
    }
    defaults.writes.clear();
    const NotificationPreferences second(defaults);
    EXPECT_TRUE(second.isEnabled(NotificationKind::weekReset));
    EXPECT_FALSE(second.isEnabled(NotificationKind::fiveHourReset));
    EXPECT_TRUE(defaults.writes.empty());
}

TEST(NotificationPreferencesTest, SwitchesReadAsOnUnlessAStoredFalse) {
    RecordingPreferences defaults;
    defaults.values.set(std::string("no"), "meterly.notify.remaining50");
    defaults.values.set(std::int64_t{0}, "meterly.notify.remaining25");
    defaults.values.set(false, "meterly.notify.remaining10");
    const NotificationPreferences preferences(defaults);
    EXPECT_EQ(switches(preferences), (std::vector<bool>{true, true, false, true, true}));
}

TEST(NotificationPreferencesTest, SetEnabledStoresWritesAndAlwaysNotifies) {
    RecordingPreferences defaults;
    NotificationPreferences preferences(defaults);
    int changes = 0;
    auto subscription = preferences.changed().connect([&] { ++changes; });

    preferences.setEnabled(false, NotificationKind::remaining25);
    EXPECT_FALSE(preferences.isEnabled(NotificationKind::remaining25));
    EXPECT_EQ(defaults.object("meterly.notify.remaining25"), PreferenceValue(false));
    preferences.setEnabled(false, NotificationKind::remaining25);
    EXPECT_EQ(changes, 2) << "an equal value notifies too";
}

} // namespace
} // namespace meterly::state
