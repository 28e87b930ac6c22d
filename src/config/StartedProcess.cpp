#include "config/StartedProcess.hpp"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace meterly::config {

StartedProcess::StartedProcess(pid_t pid, int endedDescriptor)
    : pid_(pid), ended_(endedDescriptor) {}

StartedProcess::~StartedProcess() {
    if (ended_ >= 0) {
        ::close(ended_);
    }
}

StartedProcess::StartedProcess(StartedProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), ended_(std::exchange(other.ended_, -1)) {}

StartedProcess& StartedProcess::operator=(StartedProcess&& other) noexcept {
    if (this != &other) {
        if (ended_ >= 0) {
            ::close(ended_);
        }
        pid_ = std::exchange(other.pid_, -1);
        ended_ = std::exchange(other.ended_, -1);
    }
    return *this;
}

bool StartedProcess::reap(bool wait) {
    int status = 0;
    while (true) {
        const pid_t result = ::waitpid(pid_, &status, wait ? 0 : WNOHANG);
        if (result == pid_) {
            return true;
        }
        if (result < 0 && errno == EINTR) {
            continue;
        }
        // 0: still running; -1 (ECHILD): already gone, nothing left to reap.
        return result < 0;
    }
}

void StartedProcess::kill() {
    ::kill(-pid_, SIGKILL); // its group: anything it started goes too
    ::kill(pid_, SIGKILL);
}

} // namespace meterly::config
