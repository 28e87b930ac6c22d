#pragma once

#include "core/Time.hpp"
#include "state/NotificationKind.hpp"

#include <string>

namespace meterly::state {

// One planned limit notification.
struct LimitAlert {
    NotificationKind kind = NotificationKind::remaining50;
    // Stable per window: "meterly.threshold.<kind>.<epoch>" or "meterly.reset.<scope>.<epoch>",
    // the epoch being the window's reset time in whole seconds since 1970.
    std::string identifier;
    // When it is due: the planning time for a threshold, the window's reset time for a reset.
    core::Date fireAt = 0;
    std::string title;
    std::string body;

    LimitScope scope() const { return state::scope(kind); }
    bool operator==(const LimitAlert&) const = default;
};

} // namespace meterly::state
