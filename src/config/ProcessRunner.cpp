#include "config/ProcessRunner.hpp"

#include "core/AsciiText.hpp"
#include "core/UTF8.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace meterly::config {

namespace {

// Closes a descriptor once, on every path out of a scope.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_;
};

class FileActions {
public:
    FileActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
    ~FileActions() {
        if (ok_) {
            ::posix_spawn_file_actions_destroy(&actions_);
        }
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

class SpawnAttributes {
public:
    // `ownGroup`: the child leads a process group of its own.
    explicit SpawnAttributes(bool ownGroup = false) {
        ok_ = ::posix_spawnattr_init(&attributes_) == 0;
        if (!ok_) {
            return;
        }
        // The child starts with no signal blocked and SIGPIPE at its default, whatever this
        // process (a network program) has set for itself.
        sigset_t none;
        sigset_t defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (ownGroup) {
            flags |= POSIX_SPAWN_SETPGROUP;
        }
        ok_ = ::posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
              ::posix_spawnattr_setsigdefault(&attributes_, &defaults) == 0 &&
              ::posix_spawnattr_setpgroup(&attributes_, 0) == 0 &&
              ::posix_spawnattr_setflags(&attributes_, flags) == 0;
    }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    bool ok() const { return ok_; }
    const posix_spawnattr_t* get() const { return &attributes_; }

private:
    posix_spawnattr_t attributes_{};
    bool ok_ = false;
};

CommandResult startFailure(int error) {
    return CommandResult{-1, std::string("cannot start the program: ") + std::strerror(error)};
}

// The null-terminated pointer array that exec and posix_spawn take; the texts must outlive it.
std::vector<char*> argumentVector(const std::string& program,
                                  const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

// Keeps descriptors that other code opened without close-on-exec out of the child too.
void closeTheRest(FileActions& actions) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    ::posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1);
#else
    (void)actions;
#endif
}

// A descriptor that becomes readable when the child ends; -1 where the kernel has none (before
// 5.3). Through syscall(): glibc 2.36 declares pidfd_open without C linkage.
int openPidfd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

} // namespace

PosixProcessRunner::PosixProcessRunner(std::chrono::milliseconds timeout) : timeout_(timeout) {}

CommandResult PosixProcessRunner::run(const std::string& program,
                                      const std::vector<std::string>& arguments) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return startFailure(errno);
    }
    Descriptor readEnd(fds[0]);
    Descriptor writeEnd(fds[1]);

    FileActions actions;
    if (!actions.ok()) {
        return startFailure(ENOMEM);
    }
    // dup2 clears close-on-exec on the copies, so the child keeps exactly these three.
    if (::posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0) !=
            0 ||
        ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO) != 0 ||
        ::posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDERR_FILENO) != 0) {
        return startFailure(ENOMEM);
    }
    closeTheRest(actions);

    SpawnAttributes attributes;
    if (!attributes.ok()) {
        return startFailure(ENOMEM);
    }

    auto argv = argumentVector(program, arguments);

    pid_t pid = -1;
    int spawnError = ::posix_spawnp(&pid, program.c_str(), actions.get(), attributes.get(),
                                    argv.data(), environ);
    writeEnd.reset();
    if (spawnError != 0) {
        return startFailure(spawnError);
    }

    std::string bytes;
    char buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + timeout_;
    bool timedOut = false;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd readable{readEnd.get(), POLLIN, 0};
        int ready = ::poll(&readable, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            continue;
        }
        ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            break;
        }
    }
    readEnd.reset();
    if (timedOut) {
        ::kill(pid, SIGKILL);
    }

    // A child may close its output and run on: the time-out holds for its end too.
    int waitStatus = 0;
    pid_t reaped = 0;
    for (;;) {
        reaped = ::waitpid(pid, &waitStatus, timedOut ? 0 : WNOHANG);
        if (reaped < 0 && errno == EINTR) {
            continue;
        }
        if (reaped != 0) {
            break;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            ::kill(pid, SIGKILL);
            continue;
        }
        ::poll(nullptr, 0, static_cast<int>(std::min<long long>(left.count(), 10)));
    }

    CommandResult result;
    result.output = trimWhitespace(core::utf8::decodeLossy(bytes));
    if (timedOut) {
        auto ms = timeout_.count();
        std::string span =
            ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
        result.output +=
            std::string(result.output.empty() ? "" : " ") + "(killed after " + span + ")";
    }
    if (reaped < 0) {
        result.status = -1;
    } else if (WIFEXITED(waitStatus)) {
        result.status = WEXITSTATUS(waitStatus);
    } else if (WIFSIGNALED(waitStatus)) {
        result.status = 128 + WTERMSIG(waitStatus);
    } else {
        result.status = -1;
    }
    return result;
}

std::optional<StartedProcess> PosixProcessRunner::start(const std::string& program,
                                                        const std::vector<std::string>& arguments) {
    FileActions actions;
    if (!actions.ok()) {
        return std::nullopt;
    }
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::posix_spawn_file_actions_addopen(actions.get(), fd, "/dev/null",
                                               fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0) != 0) {
            return std::nullopt;
        }
    }
    closeTheRest(actions);
    SpawnAttributes attributes(/*ownGroup=*/true);
    if (!attributes.ok()) {
        return std::nullopt;
    }
    auto argv = argumentVector(program, arguments);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(),
                       environ) != 0) {
        return std::nullopt;
    }
    return StartedProcess(pid, openPidfd(pid));
}

bool PosixProcessRunner::startDetached(const std::string& program,
                                       const std::vector<std::string>& arguments) {
    // Everything the children need is prepared before fork: after it, only async-signal-safe
    // calls are made.
    auto argv = argumentVector(program, arguments);
    sigset_t none;
    sigemptyset(&none);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);

    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            ::_exit(grandchild < 0 ? 1 : 0);
        }
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
        }
        if (::syscall(SYS_close_range, 3U, ~0U, 0U) != 0) {
            for (int fd = 3; fd < 1024; ++fd) {
                ::close(fd);
            }
        }
        ::sigaction(SIGPIPE, &byDefault, nullptr);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(program.c_str(), argv.data(), environ);
        ::_exit(127);
    }
    int status = 0;
    pid_t reaped = 0;
    do {
        reaped = ::waitpid(child, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    return reaped == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string trimWhitespace(std::string_view text) {
    return std::string(core::ascii::trimmed(text));
}

} // namespace meterly::config
