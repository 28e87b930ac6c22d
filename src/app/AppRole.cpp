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

int AppRole::run(const Context& context) {
    const auto& launch = context.launch;
    auto lock = InstanceLock::acquire(InstanceLock::path(launch.environment), context.lockWait);
    if (!lock) {
        launch.writeError(alreadyRunningLine);
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
