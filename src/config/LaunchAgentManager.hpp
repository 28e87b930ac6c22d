#pragma once

#include "config/LaunchAgentError.hpp"
#include "config/LaunchAgentSpec.hpp"
#include "config/ProcessRunner.hpp"
#include "config/ServiceBackend.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace meterly::config {

// Drives one per-user agent: writes and removes its definition file (the property list for
// launchd, the unit file for systemd), keeps snapshots of it for rollback, reads back the command
// line it installs, and loads, restarts, unloads and queries the agent through its service
// backend. It keeps no state between calls; every operation blocks the calling thread.
class LaunchAgentManager {
public:
    using CommandResult = config::CommandResult;

    // With the backend this system runs its agents under (the systemd user manager).
    LaunchAgentManager(LaunchAgentSpec spec, std::filesystem::path homeDirectory);
    LaunchAgentManager(LaunchAgentSpec spec, std::filesystem::path homeDirectory,
                       std::shared_ptr<ServiceBackend> backend);

    const LaunchAgentSpec& spec() const { return spec_; }
    const std::filesystem::path& homeDirectory() const { return homeDirectory_; }
    const std::shared_ptr<ServiceBackend>& backend() const { return backend_; }

    // Where the agent's definition file lives.
    std::filesystem::path plistURL() const;

    // Writes the definition atomically, creating its folder; false when the file already held
    // exactly these bytes (nothing written). Rendering errors pass unchanged; file errors are
    // LaunchAgentError::io.
    bool writePlist() const;
    // Deletes the definition; false when there was none.
    bool removePlist() const;
    // The definition's bytes now; nothing when it is missing or unreadable.
    std::optional<std::string> plistSnapshot() const;
    // Puts a snapshot and the loaded state back after a failed install; never fails. Without a
    // snapshot the agent is unloaded and its definition removed.
    void restore(const std::optional<std::string>& plist, bool wasLoaded) const noexcept;

    void bootstrap() const;
    void kickstart() const;
    void bootout() const;
    // Whether the service manager has the agent now; a failure reads as no.
    bool isLoaded() const;

    // The command line of the definition on disk; nothing when it is missing or cannot be read.
    std::optional<std::vector<std::string>> installedProgramArguments() const;

private:
    LaunchAgentSpec spec_;
    std::filesystem::path homeDirectory_;
    std::shared_ptr<ServiceBackend> backend_;
};

} // namespace meterly::config
