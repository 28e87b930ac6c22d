#pragma once

#include "core/LimitWindow.hpp"
#include "core/Time.hpp"

#include <optional>
#include <string>

namespace meterly::core {

// One reading of both usage windows.
struct UsageSnapshot {
    std::optional<LimitWindow> fiveHour;
    std::optional<LimitWindow> sevenDay;
    // The upstream's claim which window governs, exactly as received (also unknown texts).
    std::optional<std::string> representativeClaim;
    // The upstream's overage status, exactly as received; not interpreted.
    std::optional<std::string> overageStatus;
    // When the reading was taken.
    Date capturedAt = 0;

    // The window that governs: the one the claim names (the other when that one is missing);
    // without a recognised claim the only window present, or of two the one with strictly less
    // remaining, the five-hour window on a tie.
    std::optional<LimitWindow> representative() const;

    // Seconds from the capture to `now`; 0 when negative or not a number.
    Seconds age(Date now) const;

    bool operator==(const UsageSnapshot&) const = default;
};

} // namespace meterly::core
