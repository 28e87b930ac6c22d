#include "ui/settings/SettingsPresenter.hpp"

namespace meterly::ui {

state::SettingsPane SettingsPresenter::shownPane(std::optional<state::SettingsPane> pane) {
    return pane.value_or(state::SettingsPane::proxy);
}

std::string SettingsPresenter::title(std::optional<state::SettingsPane> pane) {
    switch (shownPane(pane)) {
    case state::SettingsPane::general:
        return "General";
    case state::SettingsPane::notifications:
        return "Notifications";
    case state::SettingsPane::proxy:
        break;
    }
    return "Proxy";
}

std::string SettingsPresenter::updateCheckSummary(const UpdateCheck& check, core::Date now,
                                                  const state::TextFormatter& texts) {
    if (check.isChecking) {
        return "Checking…";
    }
    if (check.availableVersion) {
        return *check.availableVersion + " is available";
    }
    if (!check.lastCheckedAt) {
        return "Not checked yet";
    }
    const auto when = texts.relative(*check.lastCheckedAt, now);
    if (check.lastUserCheckFailed) {
        return "Check failed — tried " + when;
    }
    return "Up to date — checked " + when;
}

std::string SettingsPresenter::accessibleName(const std::string& title,
                                              const std::optional<std::string>& caption) {
    return caption ? title + ", " + *caption : title;
}

} // namespace meterly::ui
