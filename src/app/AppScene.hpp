#pragma once

#include "core/Environment.hpp"
#include "state/UpdateCheckStore.hpp"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace meterly::app {

// What the app role hands the application scene once the launch is counted.
struct AppLaunch {
    std::vector<std::string> arguments;
    core::EnvironmentLookup environment;
    std::filesystem::path homeDirectory;
    // The running executable, links resolved; empty when it cannot be found.
    std::string executablePath;
    // The application bundle around it; empty outside one.
    std::filesystem::path bundlePath;
    std::function<void(std::string_view)> writeError;
    // After an update: restarts the proxy agent, lets go of the instance lock, starts the bundle's
    // executable again and asks the app to quit through the function given.
    std::function<void(std::function<void()> quit)> relaunchAfterUpdate;
};

// The tray application's scene: the view model, the setup model, the tray icon and the windows,
// kept for the life of the process. `defaults` is the preferences store, already opened.
class AppScene {
public:
    AppScene() = delete;

    // Runs the scene until the app quits; returns the process's exit status.
    static int run(const AppLaunch& launch, state::UpdateCheckStore& defaults);
};

} // namespace meterly::app
