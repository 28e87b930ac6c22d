#pragma once

#include "state/LimitScope.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::state {

// The five limit notifications, each with fixed texts:
//
//   kind           title                  body                threshold  scope     reset
//   remaining50    "50% limit remaining"  "Halfway there"     0.5        fiveHour  no
//   remaining25    "25% limit remaining"  "Limit running low" 0.25       fiveHour  no
//   remaining10    "10% limit remaining"  "Almost out"        0.1        fiveHour  no
//   fiveHourReset  "5-hour limit reset"   "Happy building"    -          fiveHour  yes
//   weekReset      "Week limit reset"     "Happy building"    -          sevenDay  yes
enum class NotificationKind { remaining50, remaining25, remaining10, fiveHourReset, weekReset };

inline constexpr std::array<NotificationKind, 5> allNotificationKinds{
    NotificationKind::remaining50, NotificationKind::remaining25, NotificationKind::remaining10,
    NotificationKind::fiveHourReset, NotificationKind::weekReset};

// The case name: "remaining50", ..., "weekReset".
std::string_view rawValue(NotificationKind kind);
std::string_view title(NotificationKind kind);
std::string_view body(NotificationKind kind);
// The remaining fraction at or below which a threshold kind fires; none for the reset kinds.
std::optional<double> remainingThreshold(NotificationKind kind);
LimitScope scope(NotificationKind kind);
bool isReset(NotificationKind kind);
// The preferences key of the kind's switch: "meterly.notify." + the raw value.
std::string preferenceKey(NotificationKind kind);

} // namespace meterly::state
