#pragma once

#include "core/Time.hpp"

#include <cstdint>
#include <functional>

namespace meterly::state {

// The one thread that owns the app's models and views (the event loop in the app, a virtual-time
// loop in tests). Everything the views read is touched only by jobs run here. Every member may be
// called from any thread.
class MainExecutor {
public:
    using Job = std::function<void()>;
    using TimerID = std::uint64_t;

    virtual ~MainExecutor() = default;

    // Runs `job` soon, after the jobs posted before it.
    virtual void post(Job job) = 0;
    // Runs `job` once `delay` seconds have passed (a delay of 0 or less runs it soon); the
    // identifier cancels it.
    virtual TimerID postAfter(core::Seconds delay, Job job) = 0;
    // Drops a job posted with postAfter that has not started; unknown or finished ones are ignored.
    virtual void cancel(TimerID timer) = 0;
    // The wall clock as this executor sees it (virtual time in tests).
    virtual core::Date now() const = 0;
    // Seconds on a clock that setting the wall clock does not move and that runs on while the
    // machine sleeps: only the span between two readings means anything. Ages of what the app has
    // seen are measured on it, so that a step of the wall clock either way leaves them right.
    virtual core::Seconds uptime() const = 0;
};

} // namespace meterly::state
