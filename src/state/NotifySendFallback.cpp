#include "state/NotifySendFallback.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

namespace meterly::state {

struct NotifySendFallback::Child {
    pid_t pid = -1;
    int pidfd = -1; // readable once the child has ended; -1 where the kernel offers none
    std::chrono::steady_clock::time_point deadline;
};

namespace {

using Clock = std::chrono::steady_clock;

// A descriptor that becomes readable when the child ends; -1 where the kernel has none (before
// 5.3). Through syscall(): glibc 2.36 declares pidfd_open without C linkage.
int openPidfd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// Reaps the child if it has ended; true when it has.
bool reaped(pid_t pid, bool block) {
    int status = 0;
    while (true) {
        const pid_t result = ::waitpid(pid, &status, block ? 0 : WNOHANG);
        if (result == pid) {
            return true;
        }
        if (result < 0 && errno == EINTR) {
            continue;
        }
        // 0: still running; -1 (ECHILD): already gone, nothing left to reap.
        return result < 0;
    }
}

} // namespace

NotifySendFallback::NotifySendFallback(core::EnvironmentLookup environment, core::Seconds timeLimit,
                                       std::string program)
    : environment_(std::move(environment)),
      timeLimit_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(std::max(0.0, timeLimit)))),
      program_(std::move(program)), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wake_ < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    thread_ = std::thread([this] { run(); });
}

NotifySendFallback::~NotifySendFallback() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    const std::uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof one);
    thread_.join();
    ::close(wake_);
}

std::vector<std::string> NotifySendFallback::arguments(const std::string& title,
                                                       const std::string& body) {
    return {"--app-name=Meterly", "--hint=string:sound-name:message-new-instant", "--", "Meterly",
            title + "\n" + body};
}

void NotifySendFallback::show(const std::string& title, const std::string& body) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        queue_.push_back(arguments(title, body));
        ++outstanding_;
    }
    const std::uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof one);
}

bool NotifySendFallback::waitUntilIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, limit, [this] { return outstanding_ == 0; });
}

std::string NotifySendFallback::resolve() const {
    if (program_.find('/') != std::string::npos) {
        return program_;
    }
    const std::string path = environment_("PATH").value_or("/usr/local/bin:/usr/bin:/bin");
    std::size_t begin = 0;
    while (begin <= path.size()) {
        const std::size_t end = std::min(path.find(':', begin), path.size());
        const std::string folder = end > begin ? path.substr(begin, end - begin) : ".";
        const std::string candidate = folder + "/" + program_;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        begin = end + 1;
    }
    return {};
}

void NotifySendFallback::start(const std::vector<std::string>& arguments,
                               std::vector<Child>& children) {
    const std::string executable = resolve();
    if (executable.empty()) {
        return; // not installed: nothing to show, as with any failure to start
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null",
                                         fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int result =
        ::posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        return;
    }
    children.push_back(Child{pid, openPidfd(pid), Clock::now() + timeLimit_});
}

void NotifySendFallback::run() {
    std::vector<Child> children;
    std::optional<Clock::time_point> stopBy;
    while (true) {
        std::deque<std::vector<std::string>> starting;
        bool stopping = false;
        {
            std::lock_guard lock(mutex_);
            starting.swap(queue_);
            stopping = stopping_;
        }
        const std::size_t before = children.size();
        for (const auto& arguments : starting) {
            start(arguments, children);
        }
        std::size_t finished = starting.size() - (children.size() - before); // failed to start

        if (stopping && !stopBy) {
            stopBy = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(exitGrace));
        }
        // Reap what has ended; kill what ran out of time.
        const auto now = Clock::now();
        for (auto it = children.begin(); it != children.end();) {
            const bool late = now >= it->deadline || (stopBy && now >= *stopBy);
            bool ended = reaped(it->pid, false);
            if (!ended && late) {
                ::kill(-it->pid, SIGKILL); // its group: anything it started goes too
                ::kill(it->pid, SIGKILL);
                ended = reaped(it->pid, true);
            }
            if (!ended) {
                ++it;
                continue;
            }
            if (it->pidfd >= 0) {
                ::close(it->pidfd);
            }
            it = children.erase(it);
            ++finished;
        }
        if (finished > 0) {
            std::lock_guard lock(mutex_);
            outstanding_ -= finished;
            if (outstanding_ == 0) {
                idle_.notify_all();
            }
        }
        if (stopping && children.empty()) {
            return;
        }

        // Wait for a child to end, a new request, or the nearest deadline.
        std::vector<pollfd> watched{{wake_, POLLIN, 0}};
        auto wakeAt = Clock::time_point::max();
        bool anyWithoutPidfd = false;
        for (const auto& child : children) {
            if (child.pidfd >= 0) {
                watched.push_back({child.pidfd, POLLIN, 0});
            } else {
                anyWithoutPidfd = true;
            }
            wakeAt = std::min(wakeAt, child.deadline);
        }
        if (stopBy) {
            wakeAt = std::min(wakeAt, *stopBy);
        }
        int timeout = -1;
        if (wakeAt != Clock::time_point::max()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(wakeAt - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 60'000));
        }
        if (anyWithoutPidfd) {
            timeout = timeout < 0 ? 50 : std::min(timeout, 50);
        }
        ::poll(watched.data(), watched.size(), timeout);
        std::uint64_t count = 0;
        (void)!::read(wake_, &count, sizeof count);
    }
}

} // namespace meterly::state
