#pragma once

#include "state/UpdateCheckStore.hpp"
#include "update/UpdateInstaller.hpp"

#include <filesystem>
#include <functional>
#include <string_view>

namespace meterly::app {

// The first step of the app role: when the last three launches never reached the tray, put the
// previous version back and relaunch it instead of going on; otherwise count this launch.
class StartupRecovery {
public:
    enum class Outcome {
        // The previous version was put back and relaunched: this process ends now.
        relaunched,
        // This launch is counted and the app goes on.
        goOn,
    };

    static constexpr std::string_view restoredLine =
        "Meterly: three launches got nowhere; the previous version has been put back.\n";
    static constexpr std::string_view failedPrefix =
        "Meterly: launches are failing and there is no previous version to go back to: ";

    // `bundle` is the running application bundle (empty outside one); `relaunch` restarts the
    // proxy agent and starts the bundle again.
    static Outcome run(state::UpdateCheckStore& defaults, const std::filesystem::path& bundle,
                       const update::UpdateInstaller& installer,
                       const std::function<void()>& relaunch,
                       const std::function<void(std::string_view)>& writeError);
};

} // namespace meterly::app
