#include "ui/platform/QtMainExecutor.hpp"

#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
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
    // QTimer takes whole milliseconds in an int; longer delays are capped (about 24 days).
    const double millis = std::isfinite(delay) ? std::ceil(std::max(0.0, delay) * 1000.0) : 0.0;
    const int interval =
        static_cast<int>(std::min(millis, static_cast<double>(std::numeric_limits<int>::max())));
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, id] { fire(id); });
    timers_.emplace(id, timer);
    timer->start(interval);
}

void QtMainExecutor::fire(TimerID id) {
    if (const auto it = timers_.find(id); it != timers_.end()) {
        it->second->deleteLater();
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

} // namespace meterly::ui
