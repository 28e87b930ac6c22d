#include "app/StartupRecovery.hpp"

#include "update/LaunchHealth.hpp"
#include "update/UpdateInstallError.hpp"

#include <string>

namespace meterly::app {

StartupRecovery::Outcome
StartupRecovery::run(state::UpdateCheckStore& defaults, const std::filesystem::path& bundle,
                     const update::UpdateInstaller& installer,
                     const std::function<void()>& relaunch,
                     const std::function<void(std::string_view)>& writeError) {
    update::LaunchHealth health(defaults);
    if (health.shouldRecover()) {
        // Cleared before the restore is tried: a failed recovery is not tried again at once.
        health.reset();
        try {
            installer.restorePrevious(bundle);
            writeError(restoredLine);
            relaunch();
            return Outcome::relaunched;
        } catch (const update::UpdateInstallError& error) {
            writeError(std::string(failedPrefix) + error.plainRendering() + "\n");
        } catch (const std::exception& error) {
            writeError(std::string(failedPrefix) + error.what() + "\n");
        }
    }
    health.recordLaunchBegan();
    return Outcome::goOn;
}

} // namespace meterly::app
