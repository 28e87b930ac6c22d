#include "state/NotifySendFallback.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace meterly::state {

struct NotifySendFallback::Child {
    config::StartedProcess process;
    std::chrono::steady_clock::time_point deadline;
};

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

NotifySendFallback::NotifySendFallback(core::EnvironmentLookup environment, core::Seconds timeLimit,
                                       std::string program,
                                       std::shared_ptr<config::ProcessRunner> runner)
    : environment_(std::move(environment)),
      timeLimit_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(std::max(0.0, timeLimit)))),
      program_(std::move(program)), runner_(std::move(runner)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
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
    if (auto process = runner_->start(executable, arguments)) {
        children.push_back(Child{std::move(*process), Clock::now() + timeLimit_});
    }
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
            bool ended = it->process.reap(false);
            if (!ended && late) {
                it->process.kill();
                ended = it->process.reap(true);
            }
            if (!ended) {
                ++it;
                continue;
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
            if (child.process.endedDescriptor() >= 0) {
                watched.push_back({child.process.endedDescriptor(), POLLIN, 0});
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
