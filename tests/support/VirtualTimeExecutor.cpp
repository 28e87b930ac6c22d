#include "support/VirtualTimeExecutor.hpp"

#include <optional>

namespace meterly::state {

void VirtualTimeExecutor::post(Job job) {
    {
        std::lock_guard lock(mutex_);
        ready_.push_back(std::move(job));
    }
    posted_.notify_all();
}

MainExecutor::TimerID VirtualTimeExecutor::postAfter(core::Seconds delay, Job job) {
    TimerID id = 0;
    {
        std::lock_guard lock(mutex_);
        id = next_++;
        const core::Date due = delay > 0 ? time_ + delay : time_;
        timers_.emplace(std::pair{due, id}, std::move(job));
    }
    posted_.notify_all();
    return id;
}

void VirtualTimeExecutor::cancel(TimerID timer) {
    std::lock_guard lock(mutex_);
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->first.second == timer) {
            timers_.erase(it);
            return;
        }
    }
}

core::Date VirtualTimeExecutor::now() const {
    std::lock_guard lock(mutex_);
    return time_ + wallOffset_;
}

core::Seconds VirtualTimeExecutor::uptime() const {
    std::lock_guard lock(mutex_);
    return time_ + uptimeOffset_;
}

bool VirtualTimeExecutor::runOne() {
    Job job;
    {
        std::lock_guard lock(mutex_);
        if (!ready_.empty()) {
            job = std::move(ready_.front());
            ready_.pop_front();
        } else if (!timers_.empty() && timers_.begin()->first.first <= time_) {
            job = std::move(timers_.begin()->second);
            timers_.erase(timers_.begin());
        } else {
            return false;
        }
    }
    job();
    return true;
}

std::size_t VirtualTimeExecutor::runReady() {
    std::size_t count = 0;
    while (runOne()) {
        ++count;
    }
    return count;
}

void VirtualTimeExecutor::advance(core::Seconds span) {
    core::Date end = 0;
    {
        std::lock_guard lock(mutex_);
        end = time_ + span;
    }
    runReady();
    while (true) {
        {
            std::lock_guard lock(mutex_);
            if (timers_.empty() || timers_.begin()->first.first > end) {
                time_ = end;
                break;
            }
            time_ = std::max(time_, timers_.begin()->first.first);
        }
        runReady();
    }
    runReady();
}

void VirtualTimeExecutor::jumpTo(core::Date date) {
    std::lock_guard lock(mutex_);
    const core::Seconds span = date - (time_ + wallOffset_);
    wallOffset_ += span;
    uptimeOffset_ += span;
}

void VirtualTimeExecutor::setWallClock(core::Date date) {
    std::lock_guard lock(mutex_);
    wallOffset_ = date - time_;
}

bool VirtualTimeExecutor::runUntil(const std::function<bool()>& done,
                                   std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        runReady();
        if (done()) {
            return true;
        }
        std::unique_lock lock(mutex_);
        const bool arrived = posted_.wait_until(lock, deadline, [this] {
            return !ready_.empty() || (!timers_.empty() && timers_.begin()->first.first <= time_);
        });
        if (!arrived) {
            lock.unlock();
            runReady();
            return done();
        }
    }
}

std::size_t VirtualTimeExecutor::pendingTimers() const {
    std::lock_guard lock(mutex_);
    return timers_.size();
}

std::optional<core::Date> VirtualTimeExecutor::nextDue() const {
    std::lock_guard lock(mutex_);
    if (timers_.empty()) {
        return std::nullopt;
    }
    return timers_.begin()->first.first + wallOffset_;
}

} // namespace meterly::state
