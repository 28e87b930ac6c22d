#include "state/LimitAlertPlanner.hpp"

#include <algorithm>
#include <cmath>

namespace meterly::state {
namespace {

LimitAlert makeAlert(NotificationKind kind, std::string identifier, core::Date fireAt) {
    return LimitAlert{kind, std::move(identifier), fireAt, std::string(title(kind)),
                      std::string(body(kind))};
}

} // namespace

std::optional<std::int64_t> LimitAlertPlanner::epoch(core::Date resetAt) {
    if (!std::isfinite(resetAt)) {
        return std::nullopt;
    }
    const double seconds = std::trunc(resetAt);
    // -2^63 is representable; 2^63 is not.
    if (seconds < -0x1p63 || seconds >= 0x1p63) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(seconds);
}

std::vector<LimitAlert> LimitAlertPlanner::thresholdAlerts(const core::UsageSnapshot& snapshot,
                                                           core::Date now) {
    std::vector<LimitAlert> alerts;
    const auto& window = snapshot.fiveHour;
    if (!window || !(window->resetAt > now)) {
        return alerts;
    }
    const auto seconds = epoch(window->resetAt);
    if (!seconds) {
        return alerts;
    }
    const double remaining = window->remainingFraction();
    for (const auto kind : {NotificationKind::remaining50, NotificationKind::remaining25,
                            NotificationKind::remaining10}) {
        if (remaining <= *remainingThreshold(kind)) {
            alerts.push_back(makeAlert(kind,
                                       "meterly.threshold." + std::string(rawValue(kind)) + "." +
                                           std::to_string(*seconds),
                                       now));
        }
    }
    std::stable_sort(alerts.begin(), alerts.end(), [](const auto& a, const auto& b) {
        return *remainingThreshold(a.kind) < *remainingThreshold(b.kind);
    });
    return alerts;
}

std::optional<LimitAlert> LimitAlertPlanner::resetAlert(const core::UsageSnapshot& snapshot,
                                                        NotificationKind kind, core::Date now,
                                                        const Enabled& enabled) {
    if (!isReset(kind) || !enabled(kind)) {
        return std::nullopt;
    }
    const auto& window =
        kind == NotificationKind::fiveHourReset ? snapshot.fiveHour : snapshot.sevenDay;
    if (!window || !(window->utilization > 0) || !(window->resetAt > now)) {
        return std::nullopt;
    }
    const auto seconds = epoch(window->resetAt);
    if (!seconds) {
        return std::nullopt;
    }
    return makeAlert(kind,
                     "meterly.reset." + std::string(rawValue(scope(kind))) + "." +
                         std::to_string(*seconds),
                     window->resetAt);
}

std::vector<LimitAlert> LimitAlertPlanner::resetAlerts(const core::UsageSnapshot& snapshot,
                                                       core::Date now, const Enabled& enabled) {
    std::vector<LimitAlert> alerts;
    for (const auto kind : {NotificationKind::fiveHourReset, NotificationKind::weekReset}) {
        if (auto alert = resetAlert(snapshot, kind, now, enabled)) {
            alerts.push_back(std::move(*alert));
        }
    }
    return alerts;
}

std::optional<LimitAlert> LimitAlertPlanner::next(const std::vector<LimitAlert>& alerts,
                                                  const std::set<std::string>& delivered,
                                                  const Enabled& enabled) {
    for (const auto& alert : alerts) {
        if (!delivered.contains(alert.identifier) && enabled(alert.kind)) {
            return alert;
        }
    }
    return std::nullopt;
}

} // namespace meterly::state
