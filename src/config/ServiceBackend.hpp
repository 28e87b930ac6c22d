#pragma once

#include "config/LaunchAgentSpec.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace meterly::config {

// One service manager that runs launch agents: where an agent's definition file lives, how a
// spec is written into one and read back, and the commands that load, restart, unload and query
// the agent. LaunchAgentManager keeps the rules that hold for every backend (unchanged files are
// not rewritten, rollback, read-only questions answer "no"). Commands throw LaunchAgentError.
class ServiceBackend {
public:
    virtual ~ServiceBackend() = default;

    virtual std::filesystem::path definitionPath(const LaunchAgentSpec& spec,
                                                 const std::filesystem::path& home) const = 0;

    // The definition file's bytes; equal specs give identical bytes. Throws when the spec cannot
    // be written in this backend's format.
    virtual std::string renderDefinition(const LaunchAgentSpec& spec) const = 0;

    // The command line a definition file runs, executable first; nothing when it cannot be read.
    virtual std::optional<std::vector<std::string>>
    programArguments(std::string_view definition) const = 0;

    // Loads the agent from the definition at `definition` and leaves its process running.
    virtual void bootstrap(const LaunchAgentSpec& spec,
                           const std::filesystem::path& definition) = 0;
    // Restarts the agent's process (a running instance is stopped first).
    virtual void kickstart(const LaunchAgentSpec& spec) = 0;
    // Unloads the agent; one that is not loaded counts as unloaded.
    virtual void bootout(const LaunchAgentSpec& spec) = 0;
    // Whether the service manager has the agent now; every failure reads as false.
    virtual bool isLoaded(const LaunchAgentSpec& spec) = 0;
};

} // namespace meterly::config
