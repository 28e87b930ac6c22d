#include "update/UpdateStateFactory.hpp"

#include "config/AppVersion.hpp"
#include "config/InfoPlist.hpp"
#include "update/DownloadFolder.hpp"
#include "update/RemoteUpdateChecker.hpp"
#include "update/RemoteUpdateDownloader.hpp"
#include "update/UpdateInstaller.hpp"

namespace meterly::update {

std::unique_ptr<UpdateState>
UpdateStateFactory::standard(state::MainExecutor& main, state::UpdateCheckStore& defaults,
                             const std::filesystem::path& executable,
                             const std::filesystem::path& home,
                             const core::EnvironmentLookup& environment) {
    UpdateState::Collaborators collaborators{
        .backend = std::make_unique<RemoteUpdateChecker>(
            main, std::string(RemoteUpdateChecker::resolvedURL()),
            URLTransfer::options(feedTimeout, 0, environment)),
        .downloader = std::make_unique<RemoteUpdateDownloader>(
            main, DownloadFolder::standard(home, environment),
            URLTransfer::options(downloadIdleTimeout, 0, environment)),
        .installer = std::make_shared<UpdateInstaller>(),
        .currentVersion = std::nullopt,
        .bundlePath = std::nullopt,
        .bundleID = std::nullopt,
        .newBucket = {},
    };
    const auto infoPlist = config::AppVersion::infoPlistPath(executable);
    if (!infoPlist.empty()) {
        collaborators.bundlePath = infoPlist.parent_path().parent_path();
        if (auto plist = config::InfoPlist::read(infoPlist)) {
            collaborators.currentVersion = plist->string("CFBundleShortVersionString");
            collaborators.bundleID = plist->string("CFBundleIdentifier");
        }
    }
    return std::make_unique<UpdateState>(main, defaults, core::systemNow, std::move(collaborators));
}

} // namespace meterly::update
