#pragma once

#include "ui/update/UpdateBanner.hpp"

#include <QString>
#include <functional>

namespace meterly::ui {

// What the popover's controls do; the scene fills these in. A missing action makes its control
// do nothing.
struct PopoverActions {
    enum class Window { fiveHour, sevenDay };

    std::function<void()> quit;
    // Opens "meterly.setup" and brings it to the front.
    std::function<void()> openSetup;
    // Opens "meterly.settings" and brings it to the front.
    std::function<void()> openSettings;
    // Turns off the runway warning of one window row.
    std::function<void(Window)> hideRunwayWarning;
    // Opens the Claude desktop application; reports false when none is installed.
    std::function<void(std::function<void(bool installed)>)> openClaude;
    // Shows a project's folder in the file manager.
    std::function<void(const QString& path)> revealFolder;
    // The update banner's buttons.
    UpdateBanner::Actions banner;
};

} // namespace meterly::ui
