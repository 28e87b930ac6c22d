#include "state/NotificationPreferences.hpp"

namespace meterly::state {

NotificationPreferences::NotificationPreferences(UpdateCheckStore& defaults) : defaults_(defaults) {
    migrateIfNeeded();
    std::map<NotificationKind, bool> values;
    for (const auto kind : allNotificationKinds) {
        values[kind] = preferenceAs<bool>(defaults_.object(preferenceKey(kind))).value_or(true);
    }
    values_.set(std::move(values));
}

bool NotificationPreferences::isEnabled(NotificationKind kind) const {
    const auto it = values_->find(kind);
    return it == values_->end() || it->second;
}

void NotificationPreferences::setEnabled(bool enabled, NotificationKind kind) {
    auto values = values_.get();
    values[kind] = enabled;
    values_.setAlwaysNotifying(std::move(values));
    defaults_.set(enabled, preferenceKey(kind));
}

// Once per preferences domain: a user who had turned the earlier single reset switch off keeps
// both reset notifications off. The flag is set first, so the migration never runs twice.
void NotificationPreferences::migrateIfNeeded() {
    if (preferenceAs<bool>(defaults_.object(migrationKey)).value_or(false)) {
        return;
    }
    defaults_.set(true, migrationKey);
    const auto legacy = preferenceAs<bool>(defaults_.object(legacyResetKey));
    if (!legacy || *legacy) {
        return; // missing, not a Boolean, or on
    }
    defaults_.set(false, preferenceKey(NotificationKind::fiveHourReset));
    defaults_.set(false, preferenceKey(NotificationKind::weekReset));
}

} // namespace meterly::state
