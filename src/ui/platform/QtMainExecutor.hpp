#pragma once

#include "state/MainExecutor.hpp"

#include <QObject>
#include <QPointer>
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

private:
    void startTimer(TimerID id, core::Seconds delay);
    void fire(TimerID id);

    std::mutex mutex_;
    TimerID next_ = 1;
    std::map<TimerID, Job> jobs_;
    std::map<TimerID, QTimer*> timers_; // touched on the GUI thread only
};

} // namespace meterly::ui
