#include "state/NotificationKind.hpp"

namespace meterly::state {
namespace {

struct Properties {
    std::string_view rawValue;
    std::string_view title;
    std::string_view body;
    std::optional<double> remainingThreshold;
    LimitScope scope;
};

const Properties& properties(NotificationKind kind) {
    static const std::array<Properties, 5> table{{
        {"remaining50", "50% limit remaining", "Halfway there", 0.5, LimitScope::fiveHour},
        {"remaining25", "25% limit remaining", "Limit running low", 0.25, LimitScope::fiveHour},
        {"remaining10", "10% limit remaining", "Almost out", 0.1, LimitScope::fiveHour},
        {"fiveHourReset", "5-hour limit reset", "Happy building", std::nullopt,
         LimitScope::fiveHour},
        {"weekReset", "Week limit reset", "Happy building", std::nullopt, LimitScope::sevenDay},
    }};
    return table[static_cast<std::size_t>(kind)];
}

} // namespace

std::string_view rawValue(NotificationKind kind) {
    return properties(kind).rawValue;
}

std::string_view title(NotificationKind kind) {
    return properties(kind).title;
}

std::string_view body(NotificationKind kind) {
    return properties(kind).body;
}

std::optional<double> remainingThreshold(NotificationKind kind) {
    return properties(kind).remainingThreshold;
}

LimitScope scope(NotificationKind kind) {
    return properties(kind).scope;
}

bool isReset(NotificationKind kind) {
    return !properties(kind).remainingThreshold.has_value();
}

std::string preferenceKey(NotificationKind kind) {
    return "meterly.notify." + std::string(rawValue(kind));
}

} // namespace meterly::state
