#pragma once

#include "core/UsageSnapshot.hpp"
#include "state/LimitAlert.hpp"
#include "state/LimitScope.hpp"
#include "state/NotificationDelivery.hpp"
#include "state/NotificationPreferences.hpp"
#include "state/UsageNotifier.hpp"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace meterly::state {

// Turns usage snapshots into limit notifications: at most one threshold notification per
// snapshot, each threshold once per window; one reset notification per window, kept with the
// delivery while it can schedule, else waiting here for tick(). Nothing is persisted. Main
// executor only.
class LimitNotifier final : public UsageNotifier {
public:
    using Done = std::function<void()>;

    LimitNotifier(NotificationPreferences& preferences, NotificationDelivery& delivery);
    ~LimitNotifier() override;
    LimitNotifier(const LimitNotifier&) = delete;
    LimitNotifier& operator=(const LimitNotifier&) = delete;

    // Lets the delivery decide whether the centre is used; then hands it the waiting reset
    // alerts it can now schedule. `done` runs on the main executor afterwards.
    void prime(Done done = {}) override;
    // Plans the reset alerts of the snapshot, then delivers the deepest newly crossed threshold
    // that is switched on. No snapshot: nothing. The work is done when it returns; `done` is
    // called before that.
    void refresh(const std::optional<core::UsageSnapshot>& snapshot, core::Date now,
                 Done done = {}) override;
    // Without the centre, delivers the waiting reset alerts that are due.
    void tick(core::Date now) override;
    // Drops waiting reset alerts of kinds now switched off, then refreshes; `done` as there.
    void preferencesChanged(const std::optional<core::UsageSnapshot>& snapshot, core::Date now,
                            Done done = {}) override;
    // Drops every waiting reset alert (and its kept request); what was delivered stays so.
    void cancel();

    // The reset alert waiting for each window.
    std::map<LimitScope, LimitAlert> pending() const;
    // The identifiers of alerts delivered or passed over.
    const std::set<std::string>& delivered() const { return delivered_; }

private:
    struct Pending {
        LimitAlert alert;
        bool handedOver = false; // given to the delivery's schedule
    };
    void refreshResets(const core::UsageSnapshot& snapshot, core::Date now);
    void deliverThreshold(const core::UsageSnapshot& snapshot, core::Date now);
    void handOverWaiting();
    void deliverOnce(const LimitAlert& alert);
    bool enabled(NotificationKind kind) const { return preferences_.isEnabled(kind); }

    NotificationPreferences& preferences_;
    NotificationDelivery& delivery_;
    std::map<LimitScope, Pending> pending_;
    std::set<std::string> delivered_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace meterly::state
