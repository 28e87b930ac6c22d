#include "update/RelaunchAfterUpdate.hpp"

#include "config/LaunchAgentSpec.hpp"

namespace meterly::update {

RelaunchAfterUpdate::RelaunchAfterUpdate(config::LaunchAgentManager agent,
                                         std::filesystem::path executable,
                                         std::function<void()> terminate,
                                         std::function<void()> handOver,
                                         std::shared_ptr<config::ProcessRunner> runner)
    : agent_(std::move(agent)), executable_(std::move(executable)),
      terminate_(std::move(terminate)), handOver_(std::move(handOver)), runner_(std::move(runner)) {
}

config::LaunchAgentManager
RelaunchAfterUpdate::proxyAgent(const std::filesystem::path& home,
                                const core::EnvironmentLookup& environment,
                                std::shared_ptr<config::ServiceBackend> backend) {
    auto spec = config::LaunchAgentSpec::proxy("/unused-by-kickstart", 0,
                                               config::LaunchAgentSpec::defaultLabel(environment),
                                               {"--proxy"}, environment);
    return config::LaunchAgentManager(std::move(spec), home, std::move(backend));
}

void RelaunchAfterUpdate::now() const {
    restartProxyAgent();
    if (handOver_) {
        handOver_();
    }
    const auto relaunch = command(executable_);
    runner_->startDetached(relaunch.front(), {relaunch.begin() + 1, relaunch.end()});
    if (terminate_) {
        terminate_();
    }
}

void RelaunchAfterUpdate::restartProxyAgent() const {
    try {
        if (agent_.isLoaded()) {
            agent_.kickstart();
        }
    } catch (...) {
        // An agent that cannot be restarted keeps running as it was.
    }
}

std::vector<std::string> RelaunchAfterUpdate::command(const std::filesystem::path& executable) {
    return {"/bin/sh", "-c", "sleep 1; exec \"$0\"", executable.string()};
}

} // namespace meterly::update
