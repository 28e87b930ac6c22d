#include "app/MeterlyMain.hpp"

#include "app/AppRole.hpp"
#include "app/HomeDirectory.hpp"
#include "app/ProxyRole.hpp"
#include "config/ProxyInstaller.hpp"
#include "config/SystemdUserBackend.hpp"
#include "state/DefaultsFile.hpp"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace meterly::app {
namespace {

// One write(2) per line, retried until every byte is out.
void writeToStandardError(std::string_view line) {
    while (!line.empty()) {
        ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        line.remove_prefix(static_cast<std::size_t>(written));
    }
}

} // namespace

bool MeterlyMain::isProxyRole(std::span<const std::string> arguments) {
    return std::find(arguments.begin(), arguments.end(), "--proxy") != arguments.end();
}

int MeterlyMain::main(std::span<const std::string> arguments) {
    // Taken before anything else, so that a later deletion cannot change what "our own
    // executable" means.
    auto executable = config::ProxyInstaller::runningExecutablePath().value_or(std::string());
    if (executable.empty() && !arguments.empty()) {
        std::error_code error;
        auto resolved = std::filesystem::canonical(arguments.front(), error);
        executable = error ? std::string() : resolved.string();
    }
    auto environment = core::processEnvironment();
    if (!isProxyRole(arguments)) {
        AppRole::Context context{
            .launch =
                {
                    .arguments = {arguments.begin(), arguments.end()},
                    .environment = environment,
                    .homeDirectory = homeDirectory(environment),
                    .executablePath = executable,
                    .bundlePath = AppRole::bundleOf(executable),
                    .writeError = writeToStandardError,
                    // The app role fills it in once it holds the instance lock.
                    .relaunchAfterUpdate = {},
                },
            .openDefaults =
                [environment, home = homeDirectory(environment)] {
                    return std::make_unique<state::DefaultsFile>(
                        state::DefaultsFile::standardPath(environment, home));
                },
            .serviceBackend = config::SystemdUserBackend::standard(),
        };
        return AppRole::run(context);
    }
    ProxyRole::Context context{
        .arguments = {arguments.begin(), arguments.end()},
        .environment = environment,
        .homeDirectory = homeDirectory(environment),
        .executablePath = executable,
        .writeError = writeToStandardError,
        .serviceBackend = config::SystemdUserBackend::standard(),
    };
    return ProxyRole::run(context);
}

} // namespace meterly::app
