#pragma once

#include <array>
#include <string_view>

namespace meterly::state {

// The two limit windows.
enum class LimitScope {
    fiveHour, // the snapshot's five-hour window
    sevenDay, // the snapshot's seven-day window
};

inline constexpr std::array<LimitScope, 2> allLimitScopes{LimitScope::fiveHour,
                                                          LimitScope::sevenDay};

// "fiveHour" or "sevenDay".
constexpr std::string_view rawValue(LimitScope scope) {
    return scope == LimitScope::fiveHour ? "fiveHour" : "sevenDay";
}

} // namespace meterly::state
