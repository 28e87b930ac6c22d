#include "state/LimitNotifier.hpp"

#include "state/LimitAlertPlanner.hpp"

#include <utility>
#include <vector>

namespace meterly::state {

LimitNotifier::LimitNotifier(NotificationPreferences& preferences, NotificationDelivery& delivery)
    : preferences_(preferences), delivery_(delivery) {}

LimitNotifier::~LimitNotifier() {
    *alive_ = false;
}

void LimitNotifier::prime(Done done) {
    delivery_.prime([this, alive = alive_, done = std::move(done)] {
        if (!*alive) {
            return;
        }
        handOverWaiting();
        if (done) {
            done();
        }
    });
}

void LimitNotifier::refresh(const std::optional<core::UsageSnapshot>& snapshot, core::Date now,
                            Done done) {
    if (snapshot) {
        refreshResets(*snapshot, now);
        deliverThreshold(*snapshot, now);
    }
    if (done) {
        done();
    }
}

void LimitNotifier::refreshResets(const core::UsageSnapshot& snapshot, core::Date now) {
    const auto isEnabled = [this](NotificationKind kind) { return enabled(kind); };
    for (auto& alert : LimitAlertPlanner::resetAlerts(snapshot, now, isEnabled)) {
        const auto scope = alert.scope();
        const auto existing = pending_.find(scope);
        if (existing != pending_.end() && existing->second.alert.identifier == alert.identifier) {
            // Already planned; hand it over if that could not be done when it was planned.
            if (!existing->second.handedOver && delivery_.canSchedule()) {
                delivery_.schedule(alert.identifier, alert.title, alert.body, alert.fireAt);
                existing->second.handedOver = true;
            }
            continue;
        }
        if (delivered_.contains(alert.identifier)) {
            continue;
        }
        if (existing != pending_.end()) {
            // The alert of an earlier window. One already due is not dropped with it: with the
            // centre it stays kept and shows shortly; without, it is delivered now, since no tick
            // came between its due time and this snapshot (a suspend, say).
            const auto& older = existing->second;
            if (older.alert.fireAt <= now) {
                if (!older.handedOver || !delivery_.canSchedule()) {
                    deliverOnce(older.alert);
                }
            } else if (older.handedOver) {
                delivery_.cancel({older.alert.identifier});
            }
        }
        bool handedOver = false;
        if (delivery_.canSchedule()) {
            delivery_.schedule(alert.identifier, alert.title, alert.body, alert.fireAt);
            handedOver = true;
        }
        pending_.insert_or_assign(scope, Pending{std::move(alert), handedOver});
    }
}

void LimitNotifier::deliverThreshold(const core::UsageSnapshot& snapshot, core::Date now) {
    const auto alerts = LimitAlertPlanner::thresholdAlerts(snapshot, now);
    const auto chosen = LimitAlertPlanner::next(
        alerts, delivered_, [this](NotificationKind kind) { return enabled(kind); });
    for (const auto& alert : alerts) {
        delivered_.insert(alert.identifier);
    }
    if (chosen) {
        delivery_.deliverNow(chosen->identifier, chosen->title, chosen->body);
    }
}

void LimitNotifier::tick(core::Date now) {
    if (delivery_.canSchedule()) {
        handOverWaiting();
        return;
    }
    const auto waiting = pending_; // a copy: entries go while it is walked
    for (const auto& [scope, entry] : waiting) {
        if (entry.alert.fireAt <= now) {
            pending_.erase(scope);
            deliverOnce(entry.alert);
        }
    }
}

void LimitNotifier::preferencesChanged(const std::optional<core::UsageSnapshot>& snapshot,
                                       core::Date now, Done done) {
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (!enabled(it->second.alert.kind)) {
            delivery_.cancel({it->second.alert.identifier});
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    refresh(snapshot, now, std::move(done));
}

void LimitNotifier::cancel() {
    std::vector<std::string> identifiers;
    for (const auto& [scope, entry] : pending_) {
        identifiers.push_back(entry.alert.identifier);
    }
    if (!identifiers.empty()) {
        delivery_.cancel(identifiers);
    }
    pending_.clear();
}

std::map<LimitScope, LimitAlert> LimitNotifier::pending() const {
    std::map<LimitScope, LimitAlert> alerts;
    for (const auto& [scope, entry] : pending_) {
        alerts.emplace(scope, entry.alert);
    }
    return alerts;
}

void LimitNotifier::handOverWaiting() {
    if (!delivery_.canSchedule()) {
        return;
    }
    for (auto& [scope, entry] : pending_) {
        if (!entry.handedOver) {
            delivery_.schedule(entry.alert.identifier, entry.alert.title, entry.alert.body,
                               entry.alert.fireAt);
            entry.handedOver = true;
        }
    }
}

void LimitNotifier::deliverOnce(const LimitAlert& alert) {
    if (delivered_.insert(alert.identifier).second) {
        delivery_.deliverNow(alert.identifier, alert.title, alert.body);
    }
}

} // namespace meterly::state
