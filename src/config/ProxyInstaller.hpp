#pragma once

#include "config/ClaudeSettingsFile.hpp"
#include "config/LaunchAgentManager.hpp"
#include "config/ProxyHealthProbe.hpp"
#include "config/ServiceBackend.hpp"
#include "core/Environment.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace meterly::config {

// Connects Claude Code to the proxy and takes it back: installs the agent, waits until it
// answers and only then points the settings at it; disconnects; chooses the port; finds an agent
// whose executable has moved or vanished; and tears the installation down from inside the proxy
// once the application has been deleted. Every operation blocks the calling thread.
class ProxyInstaller {
public:
    using ConflictPolicy = ClaudeSettingsFile::ConflictPolicy;
    using FileExists = std::function<bool(const std::string& path)>;
    // Whether a proxy answers on a port.
    using PortProbe = std::function<bool(std::uint16_t port)>;
    // The running executable's path, links resolved; nothing when it cannot be found.
    using ExecutableLocator = std::function<std::optional<std::string>()>;

    struct InstallReport {
        std::uint16_t port = 0;
        std::string baseURL;
        ClaudeSettingsFile::InstallResult settings;
        std::string plistPath;
        bool agentStarted = false; // loaded when asked after a healthy probe
    };

    struct UninstallReport {
        ClaudeSettingsFile::RemovalResult settings;
        bool agentStopped = false; // no longer loaded after the bootout
        bool plistRemoved = false;
    };

    struct ExecutableDrift {
        enum class Kind {
            moved,         // the installed definition runs another executable
            missingBinary, // the executable it runs does not exist
        };
        Kind kind;
        std::string installedPath;

        static ExecutableDrift moved(std::string path) { return {Kind::moved, std::move(path)}; }
        static ExecutableDrift missingBinary(std::string path) {
            return {Kind::missingBinary, std::move(path)};
        }
        bool operator==(const ExecutableDrift&) const = default;
    };

    struct SelfTeardownReport {
        bool settingsStripped = false;
        bool plistRemoved = false;
        bool bootedOut = false;
        bool operator==(const SelfTeardownReport&) const = default;
    };

    ProxyInstaller(ClaudeSettingsFile settings, LaunchAgentManager agent);

    // The installation that METERLY_INSTALL selects: its settings file under `homeDirectory` and
    // the proxy agent `<executablePath> --proxy --port <port>` under its label, run by the systemd
    // user manager unless another backend is given.
    static ProxyInstaller standard(const std::string& executablePath, std::uint16_t port,
                                   const std::filesystem::path& homeDirectory);
    static ProxyInstaller standard(const std::string& executablePath, std::uint16_t port,
                                   const std::filesystem::path& homeDirectory,
                                   const core::EnvironmentLookup& environment,
                                   std::shared_ptr<ServiceBackend> backend);

    // The same for the running executable; nothing when its path cannot be found.
    static std::optional<ProxyInstaller> bundled(std::uint16_t port,
                                                 const std::filesystem::path& homeDirectory);
    static std::optional<ProxyInstaller> bundled(std::uint16_t port,
                                                 const std::filesystem::path& homeDirectory,
                                                 const ExecutableLocator& locateExecutable,
                                                 const core::EnvironmentLookup& environment,
                                                 std::shared_ptr<ServiceBackend> backend);

    // /proc/self/exe with every link resolved.
    static std::optional<std::string> runningExecutablePath();

    // The port to install on: `preferred` unchecked; else the loopback port already in the
    // settings when it is free (or, with a probe, busy but answering); else the first free port
    // of a scan of 100 from `scanFrom`. Throws ConfigError and PortError.
    static std::uint16_t resolvePort(const ClaudeSettingsFile& settings,
                                     std::optional<std::uint16_t> preferred,
                                     std::uint16_t scanFrom);
    static std::uint16_t resolvePort(const ClaudeSettingsFile& settings,
                                     std::optional<std::uint16_t> preferred, std::uint16_t scanFrom,
                                     const PortProbe& probe);

    // With `startAgent`: writes and loads the agent and waits for it to answer (by default 20
    // tries 0.5 s apart on 127.0.0.1); a failure up to there puts the earlier definition and
    // loaded state back and leaves the settings untouched. Then the settings are pointed at the
    // proxy; an error there (another base URL under the policy included) puts the agent back the
    // same way and is passed on. Without `startAgent` only the settings step runs.
    InstallReport install(std::uint16_t port, ConflictPolicy policy, bool startAgent,
                          const std::optional<ProxyHealthProbe>& probe = std::nullopt) const;

    // Takes the base URL out of the settings, then (with `stopAgent`) unloads the agent and
    // removes its definition. The first error stops it.
    UninstallReport uninstall(bool keepBackup, bool stopAgent) const;

    // Whether the installed agent runs an executable that is gone, or another one than this spec.
    std::optional<ExecutableDrift> executableDrift() const;
    std::optional<ExecutableDrift> executableDrift(const FileExists& fileExists) const;
    // The installed executable when it differs from this spec's; existence is not tested.
    std::optional<std::string> executablePathDrift() const;

    // Run by the proxy once its executable is gone. When the installed agent now runs another
    // executable that exists, that agent is only restarted. Otherwise the base URL is taken out
    // of the settings when it points at `ownPort`, the definition is removed and the agent
    // unloaded, in that order. Never fails; the report says which steps worked.
    SelfTeardownReport teardownAfterDeletion(const std::string& ownExecutablePath,
                                             std::uint16_t ownPort,
                                             const FileExists& fileExists) const noexcept;

    const ClaudeSettingsFile& settings() const { return settings_; }
    const LaunchAgentManager& agent() const { return agent_; }

private:
    ClaudeSettingsFile settings_;
    LaunchAgentManager agent_;
};

} // namespace meterly::config
