#pragma once

#include "core/Time.hpp"

#include <cstdint>
#include <optional>

namespace meterly::state {

// How long until a limit window's remaining share runs out at the recent pace.
struct RunwayForecast {
    core::Seconds timeUntilExhausted = 0;

    bool operator==(const RunwayForecast&) const = default;
};

// Whether a window runs out before it resets, judged from the tokens of a recent span scaled by
// the utilization the upstream reports.
class RunwayForecastEstimator {
public:
    RunwayForecastEstimator() = delete;

    // `utilization`: the used fraction as reported (may exceed 1); `windowUsage`: tokens used over
    // the measuring span of `windowDuration` seconds; `remainingFraction`: 1 - utilization clamped
    // to 0...1; `timeRemaining`: seconds until the reset. None when nothing is used yet, the window
    // is exhausted, the span is empty, or the window resets first. Any NaN input gives none.
    static std::optional<RunwayForecast>
    estimate(std::optional<double> utilization, std::int64_t windowUsage,
             core::Seconds windowDuration, double remainingFraction, core::Seconds timeRemaining);
};

} // namespace meterly::state
