#pragma once

#include "state/ChangeSignal.hpp"
#include "state/NotificationKind.hpp"

#include <QWidget>
#include <map>

class QLabel;

namespace meterly::state {
class UsageViewModel;
}

namespace meterly::ui {

class SettingToggle;

// One switch per limit notification, in two groups, and the switch of the popover's runway
// warnings. Each switch is stored in the preferences at once and the notifier re-plans.
class NotificationsPane : public QWidget {
    Q_OBJECT
public:
    explicit NotificationsPane(state::UsageViewModel& model, QWidget* parent = nullptr);

    SettingToggle* toggle(state::NotificationKind kind) const { return toggles_.at(kind); }
    SettingToggle* runwayToggle() const { return runway_; }

    void refresh();

protected:
private:
    QWidget* group(const QString& title, const QString& caption,
                   std::initializer_list<state::NotificationKind> kinds);
    void restyle();

    state::UsageViewModel& model_;
    std::map<state::NotificationKind, SettingToggle*> toggles_;
    SettingToggle* runway_;
    std::vector<QLabel*> groupTitles_;
    std::vector<QLabel*> groupCaptions_;
    state::Subscription preferencesChanged_;
    state::Subscription modelChanged_;
};

} // namespace meterly::ui
