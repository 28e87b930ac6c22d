#pragma once

#include "state/ChangeSignal.hpp"
#include "state/NotificationKind.hpp"
#include "state/Observable.hpp"
#include "state/UpdateCheckStore.hpp"

#include <map>

namespace meterly::state {

// One on/off switch per notification kind, kept in the preferences under the kind's
// preferenceKey. Every kind is on unless the user turned it off. Main executor only.
class NotificationPreferences {
public:
    // Runs the one-time migration of the earlier single reset switch, then reads the five
    // switches (a missing value, or one that is not a Boolean, reads as on).
    explicit NotificationPreferences(UpdateCheckStore& defaults);
    NotificationPreferences(const NotificationPreferences&) = delete;
    NotificationPreferences& operator=(const NotificationPreferences&) = delete;

    bool isEnabled(NotificationKind kind) const;
    // Stores the switch, notifying observers even when it did not change, and writes it to the
    // preferences. The caller tells the notifier.
    void setEnabled(bool enabled, NotificationKind kind);

    // Emitted on every change of a switch.
    ChangeSignal& changed() { return changed_; }

    // "meterly.notify.didMigrateResetToggle" and the earlier "meterly.notifyOnReset".
    static constexpr const char* migrationKey = "meterly.notify.didMigrateResetToggle";
    static constexpr const char* legacyResetKey = "meterly.notifyOnReset";

private:
    void migrateIfNeeded();

    UpdateCheckStore& defaults_;
    ChangeSignal changed_;
    Observable<std::map<NotificationKind, bool>> values_{{}, &changed_};
};

} // namespace meterly::state
