#pragma once

#include "app/AppScene.hpp"
#include "config/ServiceBackend.hpp"
#include "core/Time.hpp"
#include "state/UpdateCheckStore.hpp"

#include <functional>
#include <memory>

namespace meterly::app {

// The tray application's start: one copy per installation, the start-up recovery, the launch
// counted, then the scene.
class AppRole {
public:
    struct Context {
        AppLaunch launch;
        // Opens the preferences store (the launch counter lives there).
        std::function<std::unique_ptr<state::UpdateCheckStore>()> openDefaults;
        // The service manager the relaunch restarts the proxy agent with.
        std::shared_ptr<config::ServiceBackend> serviceBackend;
        // How long a start waits for a copy that is ending (a relaunch) to let go of the lock.
        core::Seconds lockWait = 3;
        // The scene; AppScene::run unless a test puts something else in.
        std::function<int(const AppLaunch&, state::UpdateCheckStore&)> scene = AppScene::run;
    };

    static constexpr std::string_view alreadyRunningLine =
        "Meterly is already running; this copy exits.\n";
    static constexpr std::string_view noDisplayLine =
        "Meterly: no display to show the tray app on (neither DISPLAY nor WAYLAND_DISPLAY is "
        "set); start it in a desktop session, or run the proxy alone with --proxy.\n";

    // Whether the tray app has somewhere to show itself: DISPLAY or WAYLAND_DISPLAY set and not
    // empty, or QT_QPA_PLATFORM naming a platform of Qt's own (such as offscreen).
    static bool hasDisplay(const core::EnvironmentLookup& environment);

    // Returns the process's exit status: 1 when another copy runs or there is no display (neither
    // counted as a launch), 0 after a recovery relaunch,
    // else the scene's.
    static int run(const Context& context);

    // The Meterly.app bundle that holds `executable`, or an empty path.
    static std::filesystem::path bundleOf(const std::filesystem::path& executable);
};

} // namespace meterly::app
