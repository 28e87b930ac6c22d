#include "config/LaunchdBackend.hpp"

#include "config/LaunchAgentError.hpp"

#include <unistd.h>

namespace meterly::config {

LaunchdBackend::LaunchdBackend(std::shared_ptr<ProcessRunner> runner, std::string launchctl)
    : LaunchdBackend(std::move(runner), std::move(launchctl), ::getuid()) {}

LaunchdBackend::LaunchdBackend(std::shared_ptr<ProcessRunner> runner, std::string launchctl,
                               uid_t uid)
    : runner_(std::move(runner)), launchctl_(std::move(launchctl)), uid_(uid) {}

std::string LaunchdBackend::domainTarget() const {
    return "gui/" + std::to_string(uid_);
}

std::string LaunchdBackend::serviceTarget(const LaunchAgentSpec& spec) const {
    return domainTarget() + "/" + spec.label;
}

CommandResult LaunchdBackend::runLaunchctl(const std::vector<std::string>& arguments) const {
    return runner_->run(launchctl_, arguments);
}

std::filesystem::path LaunchdBackend::definitionPath(const LaunchAgentSpec& spec,
                                                     const std::filesystem::path& home) const {
    return spec.userPlistURL(home);
}

std::string LaunchdBackend::renderDefinition(const LaunchAgentSpec& spec) const {
    return spec.plistData();
}

std::optional<std::vector<std::string>>
LaunchdBackend::programArguments(std::string_view definition) const {
    return programArgumentsOfPropertyList(definition);
}

void LaunchdBackend::bootstrap(const LaunchAgentSpec& spec,
                               const std::filesystem::path& definition) {
    auto result = runLaunchctl({"bootstrap", domainTarget(), definition.string()});
    if (result.status == 0) {
        if (!spec.runAtLoad) {
            kickstart(spec);
        }
        return;
    }
    if (result.status == 5 || result.status == 17) {
        kickstart(spec);
        return;
    }
    throw LaunchAgentError::launchctlFailed("bootstrap", result.status, result.output);
}

void LaunchdBackend::kickstart(const LaunchAgentSpec& spec) {
    auto result = runLaunchctl({"kickstart", "-k", serviceTarget(spec)});
    if (result.status != 0) {
        throw LaunchAgentError::launchctlFailed("kickstart", result.status, result.output);
    }
}

void LaunchdBackend::bootout(const LaunchAgentSpec& spec) {
    auto result = runLaunchctl({"bootout", serviceTarget(spec)});
    if (result.status != 0 && result.status != 3 && result.status != 113) {
        throw LaunchAgentError::launchctlFailed("bootout", result.status, result.output);
    }
}

bool LaunchdBackend::isLoaded(const LaunchAgentSpec& spec) {
    return runLaunchctl({"print", serviceTarget(spec)}).status == 0;
}

} // namespace meterly::config
