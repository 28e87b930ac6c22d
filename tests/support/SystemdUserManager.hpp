#pragma once

#include "support/TempDir.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace meterly::testing {

// A real systemd user manager of the test's own, for a temporary home: it runs in a private mount
// namespace with a tmpfs on /run/systemd (so that it believes systemd booted the machine) and a
// runtime folder of its own. Every systemctl that talks to it must run inside that namespace:
// systemctl() is a small program that does so, to be handed to the code under test.
//
// Needs root (or the right to make mount namespaces) and /lib/systemd/systemd; on a machine that
// does not allow it, start() says why and gives nothing.
class SystemdUserManager {
public:
    static std::unique_ptr<SystemdUserManager> start(const std::filesystem::path& home,
                                                     std::string& whyNot);
    ~SystemdUserManager();
    SystemdUserManager(const SystemdUserManager&) = delete;
    SystemdUserManager& operator=(const SystemdUserManager&) = delete;

    // Runs "systemctl" with its arguments inside the manager's namespace.
    const std::filesystem::path& systemctl() const { return systemctl_; }

    // Runs systemctl --user with `arguments`; its exit status (124 when it took over 20 s).
    int run(const std::vector<std::string>& arguments) const;

    // What the manager and its services wrote to their standard output and error.
    std::string log() const;

    // What to print when `unit` misbehaves: its state, where its process waits, the end of the
    // manager's log and what systemctl said.
    std::string diagnostics(const std::string& unit) const;

private:
    SystemdUserManager() = default;
    // The same, with systemctl's output appended to `output`.
    int run(const std::vector<std::string>& arguments, const std::filesystem::path& output) const;

    TempDir runtime_{"meterly-rt"};
    TempDir tools_{"meterly-sd"};
    std::filesystem::path systemctl_;
    pid_t pid_ = -1;
};

} // namespace meterly::testing
