#pragma once

#include "core/Time.hpp"
#include "state/SettingsRoute.hpp"
#include "state/TextFormatter.hpp"

#include <optional>
#include <string>

namespace meterly::ui {

// Texts of the settings window: the sidebar, the pane titles, the update-check line of the
// General pane and the accessible name of a switch row.
class SettingsPresenter {
public:
    SettingsPresenter() = delete;

    struct UpdateCheck {
        bool isChecking = false;
        // The version the feed offers, when an update is available.
        std::optional<std::string> availableVersion;
        std::optional<core::Date> lastCheckedAt;
        // The last check the user asked for could not read the feed.
        bool lastUserCheckFailed = false;
    };

    // "General", "Proxy", "Notifications"; no pane shows Proxy.
    static std::string title(std::optional<state::SettingsPane> pane);
    // The pane whose content the detail shows.
    static state::SettingsPane shownPane(std::optional<state::SettingsPane> pane);

    // "Checking…", "<version> is available", "Not checked yet", "Check failed — tried <when>"
    // or "Up to date — checked <when>".
    static std::string updateCheckSummary(const UpdateCheck& check, core::Date now,
                                          const state::TextFormatter& texts);

    // The title, and the caption after a comma when there is one.
    static std::string accessibleName(const std::string& title,
                                      const std::optional<std::string>& caption);
};

} // namespace meterly::ui
