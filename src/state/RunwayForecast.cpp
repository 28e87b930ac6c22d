#include "state/RunwayForecast.hpp"

namespace meterly::state {

std::optional<RunwayForecast> RunwayForecastEstimator::estimate(std::optional<double> utilization,
                                                                std::int64_t windowUsage,
                                                                core::Seconds windowDuration,
                                                                double remainingFraction,
                                                                core::Seconds timeRemaining) {
    // Every test is written so that a NaN fails it.
    if (!utilization || !(*utilization > 0) || !(remainingFraction > 0) || !(windowDuration > 0)) {
        return std::nullopt;
    }
    const auto tokens = static_cast<double>(windowUsage);
    const double rate = tokens / windowDuration;
    if (!(rate > 0)) {
        return std::nullopt;
    }
    const double capacity = tokens / *utilization;
    const double seconds = capacity * remainingFraction / rate;
    if (seconds < timeRemaining) {
        return RunwayForecast{seconds};
    }
    return std::nullopt;
}

} // namespace meterly::state
