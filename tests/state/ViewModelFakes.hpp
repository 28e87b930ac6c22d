#pragma once

#include "state/UpdateChecks.hpp"
#include "state/UsageNotifier.hpp"
#include "support/ScriptedUsageSource.hpp"

#include <optional>
#include <utility>
#include <vector>

namespace meterly::state::testing {

// Records what the view model asks of the notifier. Used on the main executor only.
class RecordingNotifier final : public UsageNotifier {
public:
    struct Call {
        std::optional<core::UsageSnapshot> snapshot;
        core::Date now = 0;
    };

    void prime(std::function<void()> done) override {
        ++primes;
        events.push_back("prime");
        if (done) {
            done();
        }
    }
    void refresh(const std::optional<core::UsageSnapshot>& snapshot, core::Date now,
                 std::function<void()> done) override {
        refreshes.push_back({snapshot, now});
        if (onRefresh) {
            onRefresh();
        }
        if (done) {
            done();
        }
    }
    void tick(core::Date now) override { ticks.push_back(now); }
    void preferencesChanged(const std::optional<core::UsageSnapshot>& snapshot, core::Date now,
                            std::function<void()> done) override {
        preferenceChanges.push_back({snapshot, now});
        events.push_back("preferencesChanged");
        if (done) {
            done();
        }
    }

    int primes = 0;
    std::vector<Call> refreshes;
    std::vector<core::Date> ticks;
    std::vector<Call> preferenceChanges;
    std::vector<const char*> events;
    // Runs inside each refresh.
    std::function<void()> onRefresh;
};

// Counts the update checks.
class CountingUpdateChecks final : public UpdateChecks {
public:
    void checkNow(Done done) override {
        ++checksNow;
        if (done) {
            done();
        }
    }
    void checkIfDue(Done done) override {
        ++checksIfDue;
        done();
    }
    int checksNow = 0;
    int checksIfDue = 0;
};

using ScriptedSource = meterly::testing::ScriptedUsageSource;

} // namespace meterly::state::testing
