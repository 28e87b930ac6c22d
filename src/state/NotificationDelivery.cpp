#include "state/NotificationDelivery.hpp"

#include <algorithm>
#include <utility>

namespace meterly::state {

NotificationDelivery::NotificationDelivery(MainExecutor& main, NotificationCentre& centre,
                                           NotificationFallback& fallback)
    : main_(main), centre_(centre), fallback_(fallback) {}

NotificationDelivery::~NotificationDelivery() {
    *alive_ = false;
    for (const auto& [identifier, kept] : kept_) {
        main_.cancel(kept.timer);
    }
}

void NotificationDelivery::prime(std::function<void()> done) {
    if (usesSystemCentre_) {
        if (done) {
            main_.post(std::move(done));
        }
        return;
    }
    if (done) {
        waiting_.push_back(std::move(done));
    }
    if (deciding_) {
        return;
    }
    deciding_ = true;
    centre_.requestAuthorization([this, alive = alive_](bool authorized) {
        if (!*alive || usesSystemCentre_) {
            return;
        }
        usesSystemCentre_ = authorized;
        deciding_ = false;
        for (auto& waiter : std::exchange(waiting_, {})) {
            waiter();
        }
    });
}

void NotificationDelivery::deliverNow(const std::string& identifier, const std::string& title,
                                      const std::string& body) {
    if (canSchedule()) {
        centre_.show(identifier, title, body);
    } else {
        fallback_.show(title, body);
    }
}

void NotificationDelivery::schedule(const std::string& identifier, const std::string& title,
                                    const std::string& body, core::Date at) {
    if (!canSchedule()) {
        return;
    }
    if (const auto it = kept_.find(identifier); it != kept_.end()) {
        main_.cancel(it->second.timer);
        kept_.erase(it);
    }
    auto& kept = kept_[identifier];
    kept = Kept{title, body, at, 0};
    arm(identifier, kept);
}

void NotificationDelivery::cancel(const std::vector<std::string>& identifiers) {
    if (!canSchedule()) {
        return;
    }
    for (const auto& identifier : identifiers) {
        if (const auto it = kept_.find(identifier); it != kept_.end()) {
            main_.cancel(it->second.timer);
            kept_.erase(it);
        }
    }
}

std::vector<std::string> NotificationDelivery::scheduledIdentifiers() const {
    std::vector<std::string> identifiers;
    for (const auto& entry : kept_) {
        identifiers.push_back(entry.first);
    }
    return identifiers;
}

// The timer waits for the due time, but never longer than the recheck interval: the executor's
// timers run on a clock that may stand still while the wall clock moves on.
void NotificationDelivery::arm(const std::string& identifier, Kept& kept) {
    const core::Seconds left = kept.at - main_.now();
    const core::Seconds delay = left > 0 ? std::min(left, recheckInterval) : 0;
    kept.timer = main_.postAfter(delay, [this, alive = alive_, identifier] {
        if (*alive) {
            check(identifier);
        }
    });
}

void NotificationDelivery::check(const std::string& identifier) {
    const auto it = kept_.find(identifier);
    if (it == kept_.end()) {
        return;
    }
    if (it->second.at > main_.now()) {
        arm(identifier, it->second);
        return;
    }
    const Kept due = std::move(it->second);
    kept_.erase(it);
    centre_.show(identifier, due.title, due.body);
}

} // namespace meterly::state
