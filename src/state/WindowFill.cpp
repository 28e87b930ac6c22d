#include "state/WindowFill.hpp"

#include "history/TokenUsage.hpp"
#include "state/SessionGate.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace meterly::state {

namespace {

bool isSettled(const WindowFill& window) {
    return !window.isActive;
}

// tokens / utilization rounded half away from zero, kept within the signed 64-bit range (token
// sums near the top of it, divided by a utilization below 1, would leave it).
std::int64_t impliedCapacity(std::int64_t tokens, double utilization) {
    const double capacity = std::round(static_cast<double>(tokens) / utilization);
    // 2^63 is exactly representable; anything at or above it does not fit.
    constexpr double limit = 9223372036854775808.0;
    if (!(capacity < limit)) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return static_cast<std::int64_t>(capacity);
}

} // namespace

std::optional<double> WindowFillSeries::settledAverageFraction() const {
    double sum = 0;
    std::int64_t count = 0;
    for (const auto& window : windows) {
        if (isSettled(window)) {
            sum += window.fraction;
            ++count;
        }
    }
    if (count == 0) {
        return std::nullopt;
    }
    return sum / static_cast<double>(count);
}

bool WindowFillSeries::settledAverageIsFloor() const {
    return std::any_of(windows.begin(), windows.end(), [](const WindowFill& window) {
        return isSettled(window) && window.isClamped;
    });
}

std::int64_t WindowFillSeries::barelyUsedCount() const {
    return std::count_if(windows.begin(), windows.end(), [](const WindowFill& window) {
        return isSettled(window) && window.fraction < 0.2;
    });
}

std::optional<WindowFillSeries> WindowFillEstimator::estimate(
    std::optional<core::Date> fiveHourResetAt, std::optional<double> fiveHourUtilization,
    const std::vector<history::RequestBucket>& buckets, core::Date now,
    std::optional<WindowFillSeries::CapReading> knownCap, std::int64_t limit) {
    if (buckets.empty()) {
        return std::nullopt;
    }
    std::optional<core::Date> currentStart;
    if (fiveHourResetAt && *fiveHourResetAt > now) {
        currentStart = *fiveHourResetAt - windowDuration;
    }
    std::vector<core::Date> starts = SessionGateEstimator::windowOpenings(
        buckets, buckets.front().start, currentStart.value_or(now), currentStart.has_value());
    if (currentStart) {
        starts.push_back(*currentStart);
    }
    if (starts.empty()) {
        return std::nullopt;
    }
    const auto keep = static_cast<std::size_t>(std::max<std::int64_t>(limit, 0));
    if (starts.size() > keep) {
        starts.erase(starts.begin(), starts.end() - static_cast<std::ptrdiff_t>(keep));
    }
    if (starts.empty()) {
        return std::nullopt;
    }

    std::vector<std::int64_t> tokens;
    tokens.reserve(starts.size());
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const core::Date start = starts[i];
        const core::Date end = start + windowDuration;
        core::Date lower = start;
        for (const auto& bucket : buckets) {
            if (bucket.start <= start) {
                lower = bucket.start;
            }
        }
        if (i > 0) {
            lower = std::max(lower, starts[i - 1] + windowDuration);
        }
        std::int64_t sum = 0;
        for (const auto& bucket : buckets) {
            if (bucket.start >= lower && bucket.start < end) {
                sum = history::saturatingAdd(sum, bucket.totalTokens);
            }
        }
        tokens.push_back(sum);
    }

    std::optional<WindowFillSeries::CapReading> fresh;
    if (fiveHourUtilization && *fiveHourUtilization >= minimumUtilizationForCap &&
        tokens.back() > 0) {
        fresh = WindowFillSeries::CapReading{impliedCapacity(tokens.back(), *fiveHourUtilization),
                                             *fiveHourUtilization};
    }
    std::optional<WindowFillSeries::CapReading> chosen;
    if (fresh && knownCap) {
        chosen = fresh->utilization >= knownCap->utilization ? fresh : knownCap;
    } else {
        chosen = fresh ? fresh : knownCap;
    }

    WindowFillSeries series;
    std::int64_t reference = 0;
    if (chosen) {
        series.basis = WindowFillSeries::ImpliedCap{chosen->tokens};
        reference = chosen->tokens;
    } else {
        series.basis = WindowFillSeries::Relative{};
        const bool onlyCurrent = currentStart && starts.size() == 1;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const bool current = currentStart && starts[i] == *currentStart;
            if (onlyCurrent || !current) {
                reference = std::max(reference, tokens[i]);
            }
        }
        reference = std::max<std::int64_t>(reference, 1);
    }
    series.capReading = chosen;

    series.windows.reserve(starts.size());
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const double ratio =
            reference > 0 ? static_cast<double>(tokens[i]) / static_cast<double>(reference) : 0.0;
        WindowFill window;
        window.start = starts[i];
        window.tokens = tokens[i];
        window.fraction = std::min(ratio, 1.0);
        window.isClamped = ratio > 1;
        window.isActive = currentStart && starts[i] == *currentStart;
        series.windows.push_back(window);
    }
    return series;
}

} // namespace meterly::state
