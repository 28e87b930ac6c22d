#include "app/AppRole.hpp"

#include "app/InstanceLock.hpp"
#include "app/StartupRecovery.hpp"
#include "config/AppVersion.hpp"
#include "update/RelaunchAfterUpdate.hpp"
#include "update/UpdateInstaller.hpp"

namespace meterly::app {

std::filesystem::path AppRole::bundleOf(const std::filesystem::path& executable) {
    auto infoPlist = config::AppVersion::infoPlistPath(executable);
    return infoPlist.empty() ? std::filesystem::path() : infoPlist.parent_path().parent_path();
}

bool AppRole::hasDisplay(const core::EnvironmentLookup& environment) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (auto value = environment(name); value && !value->empty()) {
            return true;
        }
    }
    return false;
}

int AppRole::run(const Context& context) {
    const auto& launch = context.launch;
    auto lock = InstanceLock::acquire(InstanceLock::path(launch.environment), context.lockWait);
    if (!lock) {
        launch.writeError(alreadyRunningLine);
        return 1;
    }
    // Qt would abort without a display. A launch that cannot show anything is not counted: three
    // of them must not look like a version that fails before the tray.
    if (!hasDisplay(launch.environment)) {
        launch.writeError(noDisplayLine);
        return 1;
    }
    auto defaults = context.openDefaults();

    const update::UpdateInstaller installer;
    const auto relaunch = [&] {
        update::RelaunchAfterUpdate(
            update::RelaunchAfterUpdate::proxyAgent(launch.homeDirectory, launch.environment,
                                                    context.serviceBackend),
            launch.bundlePath / update::UpdateInstaller::executableInBundle, {})
            .now();
    };
    if (StartupRecovery::run(*defaults, launch.bundlePath, installer, relaunch,
                             launch.writeError) == StartupRecovery::Outcome::relaunched) {
        return 0;
    }
    return context.scene(launch, *defaults);
}

} // namespace meterly::app
