#include "support/BackgroundProgram.hpp"

#include "support/ArgumentVector.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace meterly::testing {

void BackgroundProgram::start(const std::vector<std::string>& arguments,
                              const std::vector<std::string>& env, const std::filesystem::path& log,
                              bool withReportPipe) {
    stop();
    int fds[2] = {-1, -1};
    if (withReportPipe && ::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe for " + arguments.front());
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (withReportPipe) {
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own, so that stopping it reaches whatever it started.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    auto argv = argumentPointers(arguments);
    auto envp = argumentPointers(env);
    const int result =
        ::posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (withReportPipe) {
        ::close(fds[1]);
        reportPipe_ = fds[0];
    }
    if (result != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + arguments.front());
    }
}

std::optional<std::string> BackgroundProgram::readReport(std::chrono::milliseconds limit) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (text.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || reportPipe_ < 0) {
            return std::nullopt;
        }
        pollfd fd{reportPipe_, POLLIN, 0};
        const int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        char buffer[256];
        const ssize_t n = ::read(reportPipe_, buffer, sizeof buffer);
        if (n <= 0) {
            return std::nullopt;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text.substr(0, text.find('\n'));
}

bool BackgroundProgram::running() const {
    return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0;
}

void BackgroundProgram::stop() {
    using namespace std::chrono_literals;
    if (reportPipe_ >= 0) {
        ::close(reportPipe_);
        reportPipe_ = -1;
    }
    if (pid_ <= 0) {
        return;
    }
    ::kill(-pid_, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) != 0) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

} // namespace meterly::testing
