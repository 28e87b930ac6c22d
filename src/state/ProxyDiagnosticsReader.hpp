#pragma once

#include "config/ClaudeSettingsFile.hpp"
#include "config/LaunchAgentManager.hpp"
#include "core/Environment.hpp"
#include "state/BlockingWorker.hpp"
#include "state/ProxyDiagnostics.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace meterly::state {

// Gathers ProxyDiagnostics: reads Claude Code's settings and the agent's definition, asks the
// user manager whether the agent is loaded and probes the proxy's health check. Can also restart
// the agent. The blocking forms run on a worker; the settings window uses the asynchronous ones,
// which hand the work to a worker and deliver the result on the main executor.
class ProxyDiagnosticsReader {
public:
    using FileExists = std::function<bool(const std::string& path)>;
    // Whether the proxy answers its health check on 127.0.0.1 at a port.
    using Probe = std::function<bool(std::uint16_t port)>;

    // Without `fileExists` the disk is asked; without `probe` one health check is made.
    ProxyDiagnosticsReader(config::ClaudeSettingsFile settings, config::LaunchAgentManager agent,
                           core::EnvironmentLookup environment = core::processEnvironment(),
                           FileExists fileExists = {}, Probe probe = {});

    // The reader of the settings window: the current installation's settings file and agent under
    // `homeDirectory`. Only the agent's label and home matter, so its command line is a
    // placeholder.
    static ProxyDiagnosticsReader standard(const std::filesystem::path& homeDirectory);

    // Never fails: every failure becomes data.
    ProxyDiagnostics read(std::optional<core::Date> lastTraffic) const;
    // Restarts the agent; the user manager's failure is thrown unchanged.
    void restartAgent() const;

    // The same on `worker`, with the result on the main executor.
    void read(BlockingWorker& worker, std::optional<core::Date> lastTraffic,
              std::function<void(ProxyDiagnostics)> done) const;
    void restartAgent(BlockingWorker& worker, std::function<void(Outcome<bool>)> done) const;

    const config::ClaudeSettingsFile& settings() const { return settings_; }
    const config::LaunchAgentManager& agent() const { return agent_; }

private:
    config::ClaudeSettingsFile settings_;
    config::LaunchAgentManager agent_;
    core::EnvironmentLookup environment_;
    FileExists fileExists_;
    Probe probe_;
};

} // namespace meterly::state
