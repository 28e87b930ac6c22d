#include "support/ReadOnlyFolder.hpp"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace meterly::testing {

namespace {

// Once per process: a private mount namespace, so that test mounts stay inside the test.
bool ownMountNamespace() {
    static const bool done = ::unshare(CLONE_NEWNS) == 0 &&
                             ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return done;
}

} // namespace

ReadOnlyFolder::ReadOnlyFolder(std::filesystem::path folder) : folder_(std::move(folder)) {
    if (::geteuid() != 0) {
        if (::chmod(folder_.c_str(), 0555) == 0) {
            mode_ = Mode::permissions;
        }
        return;
    }
    if (ownMountNamespace() &&
        ::mount(folder_.c_str(), folder_.c_str(), nullptr, MS_BIND, nullptr) == 0) {
        if (::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) ==
            0) {
            mode_ = Mode::mount;
        } else {
            ::umount2(folder_.c_str(), MNT_DETACH);
        }
    }
}

ReadOnlyFolder::~ReadOnlyFolder() {
    if (mode_ == Mode::mount) {
        ::umount2(folder_.c_str(), MNT_DETACH);
    } else if (mode_ == Mode::permissions) {
        ::chmod(folder_.c_str(), 0755);
    }
}

} // namespace meterly::testing
