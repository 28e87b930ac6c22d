#pragma once

#include "core/Time.hpp"

#include <string>

namespace meterly::core {

// One rate-limit window as the upstream reports it.
struct LimitWindow {
    // "allowed" admits requests; "unknown" when the upstream sent no status; else as received.
    std::string status;
    // Fraction of the window already used, exactly as received: never clamped, so it may be
    // negative, above 1, infinite or not a number.
    double utilization = 0;
    Date resetAt = 0;

    // 1 - utilization, clamped to 0...1; 0 for a utilization that is not a number.
    double remainingFraction() const;
    // True exactly when the status is "allowed" (letter case matters, no trimming).
    bool isAllowed() const;
    // Seconds from `now` until the reset; 0 when the reset lies in the past or is not a number.
    Seconds timeRemaining(Date now) const;

    // Field by field; a utilization that is not a number never compares equal.
    bool operator==(const LimitWindow&) const = default;
};

} // namespace meterly::core
