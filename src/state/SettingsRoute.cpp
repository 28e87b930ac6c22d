#include "state/SettingsRoute.hpp"

namespace meterly::state {

std::string_view rawValue(SettingsPane pane) {
    switch (pane) {
    case SettingsPane::general:
        return "general";
    case SettingsPane::proxy:
        return "proxy";
    case SettingsPane::notifications:
        return "notifications";
    }
    return "proxy";
}

std::optional<SettingsPane> settingsPane(std::string_view raw) {
    for (auto pane : allSettingsPanes) {
        if (rawValue(pane) == raw) {
            return pane;
        }
    }
    return std::nullopt;
}

SettingsRoute& SettingsRoute::shared() {
    static SettingsRoute route;
    return route;
}

} // namespace meterly::state
