#pragma once

#include "core/UsageSnapshot.hpp"
#include "state/LimitAlert.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace meterly::state {

// Which limit notifications a snapshot calls for. Pure functions, no state.
//
// A window whose reset time has no whole-second epoch in 64 bits (not a number, infinite, or
// beyond about ±9.2e18 s) gets no alert: its alerts could have no identifier.
class LimitAlertPlanner {
public:
    LimitAlertPlanner() = delete;

    using Enabled = std::function<bool(NotificationKind)>;

    // The thresholds the five-hour window has fallen to (remaining at or below 50, 25, 10 per
    // cent) while its reset is still ahead, deepest first, each due at `now`. The preferences play
    // no part here.
    static std::vector<LimitAlert> thresholdAlerts(const core::UsageSnapshot& snapshot,
                                                   core::Date now);

    // The reset alert of `kind` when it is a reset kind that `enabled` accepts and its window is
    // present, used (utilization above 0) and resets after `now`; due at the reset.
    static std::optional<LimitAlert> resetAlert(const core::UsageSnapshot& snapshot,
                                                NotificationKind kind, core::Date now,
                                                const Enabled& enabled);

    // The five-hour and then the week reset alert, those that exist.
    static std::vector<LimitAlert> resetAlerts(const core::UsageSnapshot& snapshot, core::Date now,
                                               const Enabled& enabled);

    // The first alert of `alerts` not yet delivered whose kind is enabled.
    static std::optional<LimitAlert> next(const std::vector<LimitAlert>& alerts,
                                          const std::set<std::string>& delivered,
                                          const Enabled& enabled);

    // The reset time as whole seconds since 1970, truncated toward zero; none when that does not
    // fit a signed 64-bit integer.
    static std::optional<std::int64_t> epoch(core::Date resetAt);
};

} // namespace meterly::state
