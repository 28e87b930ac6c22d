#pragma once

#include "state/MainExecutor.hpp"

#include <QObject>
#include <QPointer>
#include <chrono>
#include <map>
#include <mutex>

class QTimer;

namespace meterly::ui {

// The main executor over the Qt event loop of the thread that creates it (the GUI thread).
// post() and postAfter() may be called from any thread; the jobs run on the GUI thread.
class QtMainExecutor final : public QObject, public state::MainExecutor {
public:
    explicit QtMainExecutor(QObject* parent = nullptr);
    ~QtMainExecutor() override;

    void post(Job job) override;
    TimerID postAfter(core::Seconds delay, Job job) override;
    void cancel(TimerID timer) override;
    core::Date now() const override;
    core::Seconds uptime() const override;

private:
    struct Armed {
        QTimer* timer = nullptr;
        std::chrono::steady_clock::time_point due;
    };
    void startTimer(TimerID id, core::Seconds delay);
    void arm(QTimer& timer, std::chrono::steady_clock::time_point due);
    void fire(TimerID id);

    std::mutex mutex_;
    TimerID next_ = 1;
    std::map<TimerID, Job> jobs_;
    std::map<TimerID, Armed> timers_; // touched on the GUI thread only
};

} // namespace meterly::ui
