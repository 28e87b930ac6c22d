#pragma once

#include "core/LimitWindow.hpp"

#include <optional>

namespace meterly::ui {

// What the tray's ring shows: the remaining share of the shown window and whether it is
// exhausted, or the placeholder (no window, or the last reading too old).
struct TrayGauge {
    std::optional<double> remaining;
    bool exhausted = false;

    bool isPlaceholder() const { return !remaining.has_value(); }

    // From the view model's tray window (five-hour, else seven-day) and its idle flag.
    static TrayGauge present(const std::optional<core::LimitWindow>& window, bool isIdle);

    bool operator==(const TrayGauge&) const = default;
};

} // namespace meterly::ui
