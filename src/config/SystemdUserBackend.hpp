#pragma once

#include "config/ProcessRunner.hpp"
#include "config/ServiceBackend.hpp"
#include "core/Environment.hpp"

#include <memory>

namespace meterly::config {

// The systemd user manager: the unit file $XDG_CONFIG_HOME/systemd/user/<label>.service
// (XDG_CONFIG_HOME defaulting to ~/.config), driven by "systemctl --user".
//
// systemd keeps running a unit with the definition it loaded last, so every start and restart
// is preceded by a daemon-reload: after the unit file was rewritten (a moved executable, another
// port) the agent runs what the file now says.
class SystemdUserBackend final : public ServiceBackend {
public:
    static constexpr const char* defaultSystemctl = "systemctl";

    SystemdUserBackend(std::shared_ptr<ProcessRunner> runner, core::EnvironmentLookup environment,
                       std::string systemctl = defaultSystemctl);

    // The backend of this process: the POSIX runner, the process's environment, systemctl from
    // PATH.
    static std::shared_ptr<SystemdUserBackend> standard();

    // $XDG_CONFIG_HOME/systemd/user when that variable holds an absolute path, else
    // <home>/.config/systemd/user.
    std::filesystem::path unitDirectory(const std::filesystem::path& home) const;

    std::filesystem::path definitionPath(const LaunchAgentSpec& spec,
                                         const std::filesystem::path& home) const override;
    std::string renderDefinition(const LaunchAgentSpec& spec) const override;
    std::optional<std::vector<std::string>>
    programArguments(std::string_view definition) const override;

    // daemon-reload; enable when it runs at load; then restart, which starts it when it is not
    // running and otherwise makes it run the definition just written.
    void bootstrap(const LaunchAgentSpec& spec, const std::filesystem::path& definition) override;
    // daemon-reload, then restart.
    void kickstart(const LaunchAgentSpec& spec) override;
    // disable, then stop; a unit that is not loaded (exit 5) counts as stopped, and one the
    // manager has no unit file for (LoadState "not-found") as disabled. The stop runs even when
    // the disable failed, so that a running agent is never left behind.
    void bootout(const LaunchAgentSpec& spec) override;
    // is-enabled, else is-active: the manager has the unit enabled, or it runs.
    bool isLoaded(const LaunchAgentSpec& spec) override;

private:
    CommandResult systemctl(const std::vector<std::string>& arguments) const;
    void require(const std::string& verb, const std::vector<std::string>& arguments) const;
    // The manager answers that it found no unit file for `unit`; false when it cannot be asked.
    bool hasNoUnitFile(const std::string& unit) const;

    std::shared_ptr<ProcessRunner> runner_;
    core::EnvironmentLookup environment_;
    std::string systemctl_;
};

} // namespace meterly::config
