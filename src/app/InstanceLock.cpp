#include "app/InstanceLock.hpp"

#include "config/InstallEnvironment.hpp"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace meterly::app {

std::filesystem::path InstanceLock::path(const core::EnvironmentLookup& environment) {
    const auto& installation = config::InstallEnvironment::current(environment);
    std::error_code error;
    if (auto runtime = environment("XDG_RUNTIME_DIR");
        runtime && runtime->starts_with("/") && std::filesystem::is_directory(*runtime, error)) {
        return std::filesystem::path(*runtime) / ("meterly-" + installation.name + ".lock");
    }
    std::filesystem::path temporary = "/tmp";
    if (auto value = environment("TMPDIR"); value && value->starts_with("/")) {
        temporary = *value;
    }
    return temporary /
           ("meterly-" + std::to_string(::getuid()) + "-" + installation.name + ".lock");
}

std::optional<InstanceLock> InstanceLock::acquire(const std::filesystem::path& file,
                                                  core::Seconds wait) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return InstanceLock(-1);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(std::max(0.0, wait));
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return InstanceLock(fd);
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            ::close(fd);
            return InstanceLock(-1);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

InstanceLock::~InstanceLock() {
    release();
}

void InstanceLock::release() {
    if (fd_ >= 0) {
        ::close(std::exchange(fd_, -1));
    }
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

} // namespace meterly::app
