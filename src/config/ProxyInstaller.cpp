#include "config/ProxyInstaller.hpp"

#include "config/ConfigError.hpp"
#include "config/InstallEnvironment.hpp"
#include "config/PortSelector.hpp"
#include "config/SelfCheck.hpp"
#include "config/SystemdUserBackend.hpp"
#include "config/TeardownLog.hpp"

#include <system_error>

namespace meterly::config {

ProxyInstaller::ProxyInstaller(ClaudeSettingsFile settings, LaunchAgentManager agent)
    : settings_(std::move(settings)), agent_(std::move(agent)) {}

ProxyInstaller ProxyInstaller::standard(const std::string& executablePath, std::uint16_t port,
                                        const std::filesystem::path& homeDirectory) {
    return standard(executablePath, port, homeDirectory, core::processEnvironment(),
                    SystemdUserBackend::standard());
}

ProxyInstaller ProxyInstaller::standard(const std::string& executablePath, std::uint16_t port,
                                        const std::filesystem::path& homeDirectory,
                                        const core::EnvironmentLookup& environment,
                                        std::shared_ptr<ServiceBackend> backend) {
    const auto& installation = InstallEnvironment::current(environment);
    auto spec = LaunchAgentSpec::proxy(executablePath, port, installation.agentLabel, {"--proxy"},
                                       environment);
    return ProxyInstaller(ClaudeSettingsFile::standard(homeDirectory, environment),
                          LaunchAgentManager(std::move(spec), homeDirectory, std::move(backend)));
}

std::optional<ProxyInstaller> ProxyInstaller::bundled(std::uint16_t port,
                                                      const std::filesystem::path& homeDirectory) {
    return bundled(port, homeDirectory, runningExecutablePath, core::processEnvironment(),
                   SystemdUserBackend::standard());
}

std::optional<ProxyInstaller> ProxyInstaller::bundled(std::uint16_t port,
                                                      const std::filesystem::path& homeDirectory,
                                                      const ExecutableLocator& locateExecutable,
                                                      const core::EnvironmentLookup& environment,
                                                      std::shared_ptr<ServiceBackend> backend) {
    auto executable = locateExecutable();
    if (!executable || executable->empty()) {
        return std::nullopt;
    }
    return standard(*executable, port, homeDirectory, environment, std::move(backend));
}

std::optional<std::string> ProxyInstaller::runningExecutablePath() {
    std::error_code error;
    // A deleted executable reads as "<path> (deleted)", which does not resolve: nothing.
    auto resolved = std::filesystem::canonical("/proc/self/exe", error);
    if (error) {
        return std::nullopt;
    }
    return resolved.string();
}

std::uint16_t ProxyInstaller::resolvePort(const ClaudeSettingsFile& settings,
                                          std::optional<std::uint16_t> preferred,
                                          std::uint16_t scanFrom) {
    return resolvePort(settings, preferred, scanFrom, PortProbe{});
}

std::uint16_t ProxyInstaller::resolvePort(const ClaudeSettingsFile& settings,
                                          std::optional<std::uint16_t> preferred,
                                          std::uint16_t scanFrom, const PortProbe& probe) {
    if (preferred) {
        return *preferred;
    }
    if (auto configured = settings.inspect().loopbackPort()) {
        if (PortSelector::isPortAvailable(*configured) || (probe && probe(*configured))) {
            return *configured;
        }
    }
    return PortSelector::findAvailablePort(scanFrom, PortSelector::defaultScanLimit);
}

ProxyInstaller::InstallReport
ProxyInstaller::install(std::uint16_t port, ConflictPolicy policy, bool startAgent,
                        const std::optional<ProxyHealthProbe>& probe) const {
    InstallReport report;
    report.port = port;
    report.baseURL = PortSelector::baseURL(port);
    report.plistPath = agent_.plistURL().string();

    if (!startAgent) {
        report.settings = settings_.install(report.baseURL, policy);
        return report;
    }

    auto previousPlist = agent_.plistSnapshot();
    bool wasLoaded = agent_.isLoaded();
    try {
        agent_.writePlist();
        agent_.bootstrap();
    } catch (...) {
        agent_.restore(previousPlist, wasLoaded);
        throw;
    }
    ProxyHealthProbe health = probe ? *probe : ProxyHealthProbe(port, "127.0.0.1", 20, 0.5);
    if (!health.waitUntilHealthy()) {
        agent_.restore(previousPlist, wasLoaded);
        throw ConfigError::proxyUnreachable(port, health.budgetSeconds());
    }
    report.agentStarted = agent_.isLoaded();

    // A kept-alive proxy that nothing points at must not stay behind: when the settings step
    // fails (another base URL among the reasons), the agent goes back to how it was too.
    try {
        report.settings = settings_.install(report.baseURL, policy);
    } catch (...) {
        agent_.restore(previousPlist, wasLoaded);
        throw;
    }
    return report;
}

ProxyInstaller::UninstallReport ProxyInstaller::uninstall(bool keepBackup, bool stopAgent) const {
    UninstallReport report;
    report.settings = settings_.remove(keepBackup);
    if (stopAgent) {
        agent_.bootout();
        report.agentStopped = !agent_.isLoaded();
        report.plistRemoved = agent_.removePlist();
    }
    return report;
}

std::optional<ProxyInstaller::ExecutableDrift> ProxyInstaller::executableDrift() const {
    return executableDrift(SelfCheck::fileExistsOnDisk);
}

std::optional<ProxyInstaller::ExecutableDrift>
ProxyInstaller::executableDrift(const FileExists& fileExists) const {
    auto installed = agent_.installedProgramArguments();
    if (!installed || installed->empty()) {
        return std::nullopt;
    }
    const std::string& installedPath = installed->front();
    if (!fileExists(installedPath)) {
        return ExecutableDrift::missingBinary(installedPath);
    }
    const auto& own = agent_.spec().programArguments;
    if (own.empty() || own.front() != installedPath) {
        return ExecutableDrift::moved(installedPath);
    }
    return std::nullopt;
}

std::optional<std::string> ProxyInstaller::executablePathDrift() const {
    auto installed = agent_.installedProgramArguments();
    if (!installed || installed->empty()) {
        return std::nullopt;
    }
    const auto& own = agent_.spec().programArguments;
    if (own.empty() || own.front() != installed->front()) {
        return installed->front();
    }
    return std::nullopt;
}

ProxyInstaller::SelfTeardownReport
ProxyInstaller::teardownAfterDeletion(const std::string& ownExecutablePath, std::uint16_t ownPort,
                                      const FileExists& fileExists) const noexcept {
    SelfTeardownReport report;
    try {
        auto installed = agent_.installedProgramArguments();
        if (installed && !installed->empty() && installed->front() != ownExecutablePath &&
            fileExists(installed->front())) {
            // Another copy of the application owns the agent now: let it run its own executable.
            try {
                agent_.kickstart();
            } catch (...) {
                TeardownLog::failed("restarting the agent of the other copy");
            }
            return report;
        }
    } catch (...) {
        TeardownLog::failed("reading the installed agent");
    }

    try {
        auto found = settings_.inspect();
        if (found.loopbackPort() == ownPort) {
            settings_.remove(false);
            report.settingsStripped = true;
        }
    } catch (...) {
        TeardownLog::failed("taking the proxy out of the settings file");
    }
    try {
        report.plistRemoved = agent_.removePlist();
    } catch (...) {
        TeardownLog::failed("removing the agent definition");
    }
    try {
        agent_.bootout();
        report.bootedOut = true;
    } catch (...) {
        TeardownLog::failed("stopping the agent");
    }
    return report;
}

} // namespace meterly::config
