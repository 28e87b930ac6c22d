#pragma once

#include "core/Time.hpp"
#include "history/UsageHistoryReport.hpp"

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

namespace meterly::state {

// How full one five-hour window got.
struct WindowFill {
    // When the window opened.
    core::Date start = 0;
    // Tokens counted in the window.
    std::int64_t tokens = 0;
    // `tokens` relative to the series' reference, capped at 1.
    double fraction = 0;
    // The uncapped ratio was above 1.
    bool isClamped = false;
    // The current window, still running.
    bool isActive = false;

    core::Date id() const { return start; }
    bool operator==(const WindowFill&) const = default;
};

// The fill of the recent five-hour windows, oldest first.
struct WindowFillSeries {
    // Fractions are tokens divided by an implied capacity of one window.
    struct ImpliedCap {
        std::int64_t tokens = 0;
        bool operator==(const ImpliedCap&) const = default;
    };
    // Fractions are tokens divided by the largest window's tokens.
    struct Relative {
        bool operator==(const Relative&) const = default;
    };
    using Basis = std::variant<ImpliedCap, Relative>;

    // The implied token capacity of one five-hour window and the utilization it came from.
    struct CapReading {
        std::int64_t tokens = 0;
        double utilization = 0;
        bool operator==(const CapReading&) const = default;
    };

    std::vector<WindowFill> windows;
    Basis basis = Relative{};
    // Absent exactly when the basis is relative.
    std::optional<CapReading> capReading;

    // The mean fraction of the settled (not active) windows; none without one.
    std::optional<double> settledAverageFraction() const;
    // A settled window was clamped, so the mean is a lower bound.
    bool settledAverageIsFloor() const;
    // Settled windows below a fifth full.
    std::int64_t barelyUsedCount() const;

    bool operator==(const WindowFillSeries&) const = default;
};

// Reconstructs the recent five-hour windows from the hourly buckets and measures each against the
// capacity implied by the live utilization (or, without any, against the largest window).
class WindowFillEstimator {
public:
    WindowFillEstimator() = delete;

    // Below this utilization a window is too empty to imply a capacity.
    static constexpr double minimumUtilizationForCap = 0.1;
    static constexpr core::Seconds windowDuration = 18'000;

    // None without buckets or without any window. `knownCap` is the reading kept from the previous
    // result; `limit` is how many of the most recent windows to keep.
    static std::optional<WindowFillSeries>
    estimate(std::optional<core::Date> fiveHourResetAt, std::optional<double> fiveHourUtilization,
             const std::vector<history::RequestBucket>& buckets, core::Date now,
             std::optional<WindowFillSeries::CapReading> knownCap, std::int64_t limit);
};

} // namespace meterly::state
