#include "support/ChildProcess.hpp"

#include "support/ArgumentVector.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace meterly::testing {

ChildProcess::ChildProcess(const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    auto argv = argumentPointers(arguments);
    auto envp = argumentPointers(environment);
    int result = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (result != 0) {
        ::close(fds[0]);
        throw std::system_error(result, std::generic_category(), "posix_spawn");
    }
    errorPipe_ = fds[0];
}

ChildProcess::~ChildProcess() {
    if (!reaped_) {
        kill(SIGKILL);
        wait();
    }
    if (errorPipe_ >= 0) {
        ::close(errorPipe_);
    }
}

std::optional<std::string> ChildProcess::readErrorLine(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (auto end = buffered_.find('\n'); end != std::string::npos) {
            std::string line = buffered_.substr(0, end + 1);
            buffered_.erase(0, end + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        pollfd fd{errorPipe_, POLLIN, 0};
        int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        char chunk[4096];
        ssize_t got = ::read(errorPipe_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return std::nullopt;
        }
        buffered_.append(chunk, static_cast<std::size_t>(got));
    }
}

std::string ChildProcess::readErrorToEnd() {
    char chunk[4096];
    for (;;) {
        ssize_t got = ::read(errorPipe_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        buffered_.append(chunk, static_cast<std::size_t>(got));
    }
    return std::exchange(buffered_, {});
}

int ChildProcess::wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "waitpid");
        }
    }
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ChildProcess::kill(int signal) {
    if (!reaped_) {
        ::kill(pid_, signal);
    }
}

pid_t spawnLogged(const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, const std::filesystem::path& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    auto argv = argumentPointers(arguments);
    auto envp = argumentPointers(environment);
    pid_t pid = -1;
    int failed = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int runLogged(const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment, const std::filesystem::path& log) {
    pid_t pid = spawnLogged(arguments, environment, log);
    return pid < 0 ? -1 : waitForExit(pid);
}

} // namespace meterly::testing
