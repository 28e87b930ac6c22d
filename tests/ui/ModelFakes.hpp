#pragma once

#include "state/UsageNotifier.hpp"
#include "support/ScriptedUsageSource.hpp"

#include <functional>
#include <vector>

namespace meterly::ui {

// Delivers nothing and is done at once; counts how often the preferences changed.
class QuietNotifier final : public state::UsageNotifier {
public:
    int replans = 0;
    void prime(std::function<void()> done) override { finish(done); }
    void refresh(const std::optional<core::UsageSnapshot>&, core::Date,
                 std::function<void()> done) override {
        finish(done);
    }
    void tick(core::Date) override {}
    void preferencesChanged(const std::optional<core::UsageSnapshot>&, core::Date,
                            std::function<void()> done) override {
        ++replans;
        finish(done);
    }

private:
    static void finish(const std::function<void()>& done) {
        if (done) {
            done();
        }
    }
};

using ScriptedSource = meterly::testing::ScriptedUsageSource;

inline core::UsageSnapshot snapshot(double utilization, core::Date capturedAt) {
    core::UsageSnapshot reading;
    reading.fiveHour = core::LimitWindow{"allowed", utilization, capturedAt + 7200};
    reading.sevenDay = core::LimitWindow{"allowed", 0.3, capturedAt + 200'000};
    reading.capturedAt = capturedAt;
    return reading;
}

} // namespace meterly::ui
