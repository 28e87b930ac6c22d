#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace meterly::ui {

// A share as the views count it: clamped to 0...1, a value that is not a number counts as 0.
inline double clampedShare(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    return std::clamp(value, 0.0, 1.0);
}

// The nearest integer, halves away from zero (for counts and percentages of a clamped share).
inline std::int64_t roundedHalfAway(double value) {
    return static_cast<std::int64_t>(std::round(value));
}

} // namespace meterly::ui
