#pragma once

#include "config/LaunchAgentManager.hpp"
#include "core/Environment.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace meterly::update {

// After the bundle was swapped (an installed update, or the previous version put back), the proxy
// agent and the app itself still run the old code. This restarts the agent when it is loaded,
// hands over (the app lets go of its instance lock), starts a detached shell (through the runner,
// in a session of its own) that starts the bundle's executable again a second later, and asks the
// app to quit. Errors at each step are swallowed: the app quits in every case.
class RelaunchAfterUpdate {
public:
    // `agent` drives the proxy's unit; `executable` is what the relaunch starts; `terminate` asks
    // the app to quit; `handOver` runs just before the new copy is started, so that the new copy
    // finds nothing of this one in its way however long this one takes to end; `runner` starts
    // the detached shell.
    RelaunchAfterUpdate(config::LaunchAgentManager agent, std::filesystem::path executable,
                        std::function<void()> terminate, std::function<void()> handOver = {},
                        std::shared_ptr<config::ProcessRunner> runner =
                            std::make_shared<config::PosixProcessRunner>());

    // The manager of the proxy agent of the installation that `environment` selects; only its
    // label matters (the unit file on disk is not rewritten).
    static config::LaunchAgentManager proxyAgent(const std::filesystem::path& home,
                                                 const core::EnvironmentLookup& environment,
                                                 std::shared_ptr<config::ServiceBackend> backend);

    void now() const;

    // The relaunch command: /bin/sh with a fixed script that waits a second and then runs the
    // executable, whose path reaches the shell as $0 and is never parsed by it.
    static std::vector<std::string> command(const std::filesystem::path& executable);

private:
    void restartProxyAgent() const;

    config::LaunchAgentManager agent_;
    std::filesystem::path executable_;
    std::function<void()> terminate_;
    std::function<void()> handOver_;
    std::shared_ptr<config::ProcessRunner> runner_;
};

} // namespace meterly::update
