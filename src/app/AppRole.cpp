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
    AppLaunch launch = context.launch;
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

    // The lock is let go before the new copy starts: that copy then never gives up waiting for
    // this one, however long this one takes to end.
    launch.relaunchAfterUpdate = [&lock, home = launch.homeDirectory,
                                  environment = launch.environment, bundle = launch.bundlePath,
                                  backend = context.serviceBackend](std::function<void()> quit) {
        update::RelaunchAfterUpdate(
            update::RelaunchAfterUpdate::proxyAgent(home, environment, backend),
            bundle / update::UpdateInstaller::executableInBundle, std::move(quit),
            [&lock] { lock->release(); })
            .now();
    };
    const update::UpdateInstaller installer;
    if (StartupRecovery::run(
            *defaults, launch.bundlePath, installer, [&launch] { launch.relaunchAfterUpdate({}); },
            launch.writeError) == StartupRecovery::Outcome::relaunched) {
        return 0;
    }
    return context.scene(launch, *defaults);
}

} // namespace meterly::app
