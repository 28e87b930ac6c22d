#include "state/ProxyDiagnosticsReader.hpp"

#include "config/InstallEnvironment.hpp"
#include "config/PortSelector.hpp"
#include "config/ProxyHealthProbe.hpp"
#include "config/SelfCheck.hpp"

namespace meterly::state {

using config::ClaudeSettingsFile;

ProxyDiagnosticsReader::ProxyDiagnosticsReader(ClaudeSettingsFile settings,
                                               config::LaunchAgentManager agent,
                                               core::EnvironmentLookup environment,
                                               FileExists fileExists, Probe probe)
    : settings_(std::move(settings)), agent_(std::move(agent)),
      environment_(std::move(environment)), fileExists_(std::move(fileExists)),
      probe_(std::move(probe)) {
    if (!environment_) {
        environment_ = core::processEnvironment();
    }
    if (!fileExists_) {
        fileExists_ = config::SelfCheck::fileExistsOnDisk;
    }
    if (!probe_) {
        probe_ = [](std::uint16_t port) {
            return config::ProxyHealthProbe(port, "127.0.0.1", 1, 0.5).isHealthy();
        };
    }
}

ProxyDiagnosticsReader
ProxyDiagnosticsReader::standard(const std::filesystem::path& homeDirectory) {
    auto environment = core::processEnvironment();
    auto spec = config::LaunchAgentSpec::proxy("/unused-for-inspection", 0,
                                               config::LaunchAgentSpec::defaultLabel(environment),
                                               {"--proxy"}, environment);
    return ProxyDiagnosticsReader(ClaudeSettingsFile::standard(homeDirectory, environment),
                                  config::LaunchAgentManager(std::move(spec), homeDirectory),
                                  environment);
}

ProxyDiagnostics ProxyDiagnosticsReader::read(std::optional<core::Date> lastTraffic) const {
    ProxyDiagnostics found;
    bool loopback = false;
    try {
        auto inspection = settings_.inspect();
        found.baseURL = inspection.existingBaseURL;
        found.settingsPath = inspection.path;
        found.backupPath = inspection.backupPath;
        found.backupExists = inspection.backupExists;
        loopback = inspection.existingIsLoopback;
        if (found.baseURL) {
            found.port = config::PortSelector::port(*found.baseURL);
        }
    } catch (...) {
        found.settingsPath = settings_.path();
        found.backupPath = settings_.backupURL().string();
    }

    found.agentLoaded = agent_.isLoaded();
    if (auto arguments = agent_.installedProgramArguments(); arguments && !arguments->empty()) {
        found.installedExecutablePath = arguments->front();
        found.installedExecutableExists = fileExists_(arguments->front());
    }

    // Only a base URL on this machine can be the proxy: "https://gw:8443" must not be reported as
    // going through Meterly because some local service answers on 8443.
    if (found.port && loopback) {
        found.answering = probe_(*found.port);
    }

    found.agentPlistPath = agent_.plistURL().string();
    found.agentLabel = agent_.spec().label;
    found.environmentName = config::InstallEnvironment::current(environment_).name;
    found.lastTraffic = lastTraffic;
    return found;
}

void ProxyDiagnosticsReader::restartAgent() const {
    agent_.kickstart();
}

void ProxyDiagnosticsReader::read(BlockingWorker& worker, std::optional<core::Date> lastTraffic,
                                  std::function<void(ProxyDiagnostics)> done) const {
    worker.run([reader = *this, lastTraffic] { return reader.read(lastTraffic); },
               [done = std::move(done)](Outcome<ProxyDiagnostics> outcome) {
                   // read() turns every failure into data; a throw here would be a bug.
                   if (outcome.ok()) {
                       done(std::move(outcome.get()));
                   }
               });
}

void ProxyDiagnosticsReader::restartAgent(BlockingWorker& worker,
                                          std::function<void(Outcome<bool>)> done) const {
    worker.run([reader = *this] { reader.restartAgent(); }, std::move(done));
}

} // namespace meterly::state
