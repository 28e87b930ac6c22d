#pragma once

#include "state/ChangeSignal.hpp"
#include "state/Observable.hpp"

#include <array>
#include <optional>
#include <string_view>

namespace meterly::state {

// The panes of the settings window, in the order of its sidebar.
enum class SettingsPane { general, proxy, notifications };

inline constexpr std::array<SettingsPane, 3> allSettingsPanes = {
    SettingsPane::general, SettingsPane::proxy, SettingsPane::notifications};

// "general", "proxy", "notifications".
std::string_view rawValue(SettingsPane pane);
// The pane of a raw value; none for any other text.
std::optional<SettingsPane> settingsPane(std::string_view rawValue);

// Which pane the settings window shows: one shared record, so that any part of the app can choose
// a pane before it opens the window, and a reopened window shows the pane chosen last. Lives on
// the main executor; nothing of it is persisted.
class SettingsRoute {
public:
    SettingsRoute() = default;
    SettingsRoute(const SettingsRoute&) = delete;
    SettingsRoute& operator=(const SettingsRoute&) = delete;

    // The app's one route, made on first use on Proxy.
    static SettingsRoute& shared();

    // The selected pane; none when nothing is selected (the window then shows Proxy).
    std::optional<SettingsPane> pane() const { return pane_.get(); }
    // Stores the pane; observers hear of it only when it differs.
    void setPane(std::optional<SettingsPane> pane) { pane_.set(pane); }
    void show(SettingsPane pane) { pane_.set(pane); }

    ChangeSignal& changed() { return changed_; }

private:
    ChangeSignal changed_;
    Observable<std::optional<SettingsPane>> pane_{SettingsPane::proxy, &changed_};
};

} // namespace meterly::state
