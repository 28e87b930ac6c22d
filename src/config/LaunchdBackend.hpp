#pragma once

#include "config/ProcessRunner.hpp"
#include "config/ServiceBackend.hpp"

#include <memory>
#include <sys/types.h>

namespace meterly::config {

// launchd: the property list in ~/Library/LaunchAgents, driven by launchctl in the user's GUI
// domain.
class LaunchdBackend final : public ServiceBackend {
public:
    static constexpr const char* defaultLaunchctl = "/bin/launchctl";

    LaunchdBackend(std::shared_ptr<ProcessRunner> runner, std::string launchctl = defaultLaunchctl);
    LaunchdBackend(std::shared_ptr<ProcessRunner> runner, std::string launchctl, uid_t uid);

    // "gui/<uid>"
    std::string domainTarget() const;
    // "gui/<uid>/<label>"
    std::string serviceTarget(const LaunchAgentSpec& spec) const;

    // Runs launchctl with `arguments`; never throws (status -1 when it cannot start).
    CommandResult runLaunchctl(const std::vector<std::string>& arguments) const;

    std::filesystem::path definitionPath(const LaunchAgentSpec& spec,
                                         const std::filesystem::path& home) const override;
    std::string renderDefinition(const LaunchAgentSpec& spec) const override;
    std::optional<std::vector<std::string>>
    programArguments(std::string_view definition) const override;

    // Exit 0 loads it (and restarts it when it does not run at load); 5 or 17 mean it was loaded
    // already, and it is restarted.
    void bootstrap(const LaunchAgentSpec& spec, const std::filesystem::path& definition) override;
    void kickstart(const LaunchAgentSpec& spec) override;
    // Exit 0, 3 or 113 (the last two: it was not loaded).
    void bootout(const LaunchAgentSpec& spec) override;
    bool isLoaded(const LaunchAgentSpec& spec) override;

private:
    std::shared_ptr<ProcessRunner> runner_;
    std::string launchctl_;
    uid_t uid_;
};

} // namespace meterly::config
