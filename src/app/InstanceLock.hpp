#pragma once

#include "core/Environment.hpp"
#include "core/Time.hpp"

#include <filesystem>
#include <optional>

namespace meterly::app {

// Keeps a second copy of the app role of one installation from running: an exclusive advisory
// lock on a file in $XDG_RUNTIME_DIR (else the temporary folder), held for the life of the
// process and released by the kernel when it ends, however it ends.
class InstanceLock {
public:
    // "meterly-<installation>.lock" in $XDG_RUNTIME_DIR when that names an existing folder, else
    // "meterly-<uid>-<installation>.lock" in $TMPDIR or /tmp.
    static std::filesystem::path path(const core::EnvironmentLookup& environment);

    // Takes the lock, trying again for up to `wait` seconds while another process holds it (a
    // relaunch may start before the copy it replaces has quite ended). None while another process
    // holds it. A lock file that cannot be opened at all does not keep the app from starting: the
    // result then holds no lock.
    static std::optional<InstanceLock> acquire(const std::filesystem::path& file,
                                               core::Seconds wait);

    ~InstanceLock();
    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&&) = delete;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    bool holdsLock() const { return fd_ >= 0; }

    // Lets go of the lock before the process ends: a copy that hands over to its successor (the
    // relaunch after an update) does so first, so that the successor never waits on its end.
    void release();

private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

} // namespace meterly::app
