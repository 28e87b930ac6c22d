#include "config/SystemdUserBackend.hpp"

#include "config/LaunchAgentError.hpp"
#include "config/SystemdUnitFile.hpp"

#include <optional>

namespace meterly::config {

namespace {

// systemctl's exit status for a unit it has not loaded.
constexpr std::int32_t unitNotLoaded = 5;

} // namespace

SystemdUserBackend::SystemdUserBackend(std::shared_ptr<ProcessRunner> runner,
                                       core::EnvironmentLookup environment, std::string systemctl)
    : runner_(std::move(runner)), environment_(std::move(environment)),
      systemctl_(std::move(systemctl)) {}

std::shared_ptr<SystemdUserBackend> SystemdUserBackend::standard() {
    return std::make_shared<SystemdUserBackend>(std::make_shared<PosixProcessRunner>(),
                                                core::processEnvironment());
}

std::filesystem::path SystemdUserBackend::unitDirectory(const std::filesystem::path& home) const {
    std::optional<std::string> configHome =
        environment_ ? environment_("XDG_CONFIG_HOME") : std::nullopt;
    // XDG base directories must be absolute; a relative value is ignored.
    if (configHome && !configHome->empty() && configHome->front() == '/') {
        return std::filesystem::path(*configHome) / "systemd" / "user";
    }
    return home / ".config" / "systemd" / "user";
}

std::filesystem::path SystemdUserBackend::definitionPath(const LaunchAgentSpec& spec,
                                                         const std::filesystem::path& home) const {
    return unitDirectory(home) / SystemdUnitFile::unitName(spec);
}

std::string SystemdUserBackend::renderDefinition(const LaunchAgentSpec& spec) const {
    return SystemdUnitFile::render(spec);
}

std::optional<std::vector<std::string>>
SystemdUserBackend::programArguments(std::string_view definition) const {
    return SystemdUnitFile::programArguments(definition);
}

CommandResult SystemdUserBackend::systemctl(const std::vector<std::string>& arguments) const {
    std::vector<std::string> all{"--user"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runner_->run(systemctl_, all);
}

void SystemdUserBackend::require(const std::string& verb,
                                 const std::vector<std::string>& arguments) const {
    auto result = systemctl(arguments);
    if (result.status != 0) {
        throw LaunchAgentError::systemctlFailed(verb, result.status, result.output);
    }
}

void SystemdUserBackend::bootstrap(const LaunchAgentSpec& spec, const std::filesystem::path&) {
    std::string unit = SystemdUnitFile::unitName(spec);
    require("daemon-reload", {"daemon-reload"});
    if (spec.runAtLoad) {
        require("enable", {"enable", unit});
    }
    // A restart starts a unit that is not running, and one that is runs the new definition.
    require("restart", {"restart", unit});
}

void SystemdUserBackend::kickstart(const LaunchAgentSpec& spec) {
    std::string unit = SystemdUnitFile::unitName(spec);
    require("daemon-reload", {"daemon-reload"});
    require("restart", {"restart", unit});
}

bool SystemdUserBackend::hasNoUnitFile(const std::string& unit) const {
    auto shown = systemctl({"show", "--property=LoadState", "--value", unit});
    return shown.status == 0 && shown.output == "not-found";
}

void SystemdUserBackend::bootout(const LaunchAgentSpec& spec) {
    std::string unit = SystemdUnitFile::unitName(spec);
    auto disabled = systemctl({"disable", unit});
    // A disable fails when the manager finds no unit file of that name (the proxy was only ever
    // run by hand, or its file went away and the manager has reloaded since): nothing can start
    // such a unit, so there is nothing to disable. Any other failure is the manager's to report.
    bool disableFailed = disabled.status != 0 && !hasNoUnitFile(unit);
    auto stopped = systemctl({"stop", unit});
    if (stopped.status != 0 && stopped.status != unitNotLoaded) {
        throw LaunchAgentError::systemctlFailed("stop", stopped.status, stopped.output);
    }
    if (disableFailed) {
        throw LaunchAgentError::systemctlFailed("disable", disabled.status, disabled.output);
    }
}

bool SystemdUserBackend::isLoaded(const LaunchAgentSpec& spec) {
    std::string unit;
    try {
        unit = SystemdUnitFile::unitName(spec);
    } catch (const UnitFileError&) {
        return false;
    }
    // Installed and enabled counts, running or not: a unit whose executable is gone restarts in a
    // loop and is never active, yet it is there to be repaired and restarted. A unit that runs
    // without being enabled (its disable went through but not its stop) counts as well.
    return systemctl({"is-enabled", unit}).status == 0 ||
           systemctl({"is-active", unit}).status == 0;
}

} // namespace meterly::config
