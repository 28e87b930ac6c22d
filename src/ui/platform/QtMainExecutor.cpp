#include "ui/platform/QtMainExecutor.hpp"

#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>

namespace meterly::ui {

QtMainExecutor::QtMainExecutor(QObject* parent) : QObject(parent) {}

QtMainExecutor::~QtMainExecutor() = default;

void QtMainExecutor::post(Job job) {
    QMetaObject::invokeMethod(this, std::move(job), Qt::QueuedConnection);
}

state::MainExecutor::TimerID QtMainExecutor::postAfter(core::Seconds delay, Job job) {
    TimerID id = 0;
    {
        std::lock_guard lock(mutex_);
        id = next_++;
        jobs_.emplace(id, std::move(job));
    }
    QMetaObject::invokeMethod(
        this, [this, id, delay] { startTimer(id, delay); }, Qt::QueuedConnection);
    return id;
}

void QtMainExecutor::startTimer(TimerID id, core::Seconds delay) {
    {
        std::lock_guard lock(mutex_);
        if (!jobs_.contains(id)) {
            return; // cancelled before it was armed
        }
    }
    const double seconds = std::isfinite(delay) ? std::max(0.0, delay) : 0.0;
    // Measured on the monotonic clock, like QTimer itself; far delays are clamped to a century.
    const auto span = std::chrono::duration<double>(std::min(seconds, 100.0 * 365 * 86400));
    const auto due = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(span);
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, id] { fire(id); });
    timers_.emplace(id, Armed{timer, due});
    arm(*timer, due);
}

// QTimer takes whole milliseconds in an int (about 24.8 days): a longer wait is covered in
// steps, and fire() arms the next one until the due time is reached.
void QtMainExecutor::arm(QTimer& timer, std::chrono::steady_clock::time_point due) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
    const auto millis = std::clamp<std::int64_t>(left.count(), 0, std::numeric_limits<int>::max());
    timer.start(static_cast<int>(millis));
}

void QtMainExecutor::fire(TimerID id) {
    if (const auto it = timers_.find(id); it != timers_.end()) {
        if (it->second.due > std::chrono::steady_clock::now()) {
            bool waiting = false;
            {
                std::lock_guard lock(mutex_);
                waiting = jobs_.contains(id);
            }
            if (waiting) {
                arm(*it->second.timer, it->second.due); // the next step of a long wait
                return;
            }
        }
        it->second.timer->deleteLater();
        timers_.erase(it);
    }
    Job job;
    {
        std::lock_guard lock(mutex_);
        const auto it = jobs_.find(id);
        if (it == jobs_.end()) {
            return;
        }
        job = std::move(it->second);
        jobs_.erase(it);
    }
    job();
}

void QtMainExecutor::cancel(TimerID timer) {
    {
        std::lock_guard lock(mutex_);
        jobs_.erase(timer);
    }
    // The armed QTimer, if any, finds no job when it fires and goes away then.
}

core::Date QtMainExecutor::now() const {
    return core::systemNow();
}

core::Seconds QtMainExecutor::uptime() const {
    // The boot-time clock: monotonic like the timers' own, and counting a suspend as well.
    timespec time{};
    ::clock_gettime(CLOCK_BOOTTIME, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

} // namespace meterly::ui
