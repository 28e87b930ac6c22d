#pragma once

#include "state/MainExecutor.hpp"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace meterly::state {

// A main executor for tests: jobs run only when the test asks, on the test's thread, and time
// moves only when the test advances it, so no test waits for real seconds. Jobs posted from other
// threads (a worker's result) are queued like any other; waitFor() lets the test block until one
// arrives.
class VirtualTimeExecutor final : public MainExecutor {
public:
    // 2027-01-15 08:00:00 UTC, a plain weekday.
    static constexpr core::Date defaultStart = 1'800'000'000;

    explicit VirtualTimeExecutor(core::Date start = defaultStart) : time_(start) {}

    void post(Job job) override;
    TimerID postAfter(core::Seconds delay, Job job) override;
    void cancel(TimerID timer) override;
    core::Date now() const override;
    // Starts at the start date and moves with advance() and jumpTo(), not with setWallClock().
    core::Seconds uptime() const override;

    // A clock that reads this executor's time.
    core::Clock clock() const {
        return [this] { return now(); };
    }

    // Runs posted jobs and timers that are due now, including ones they post, until none is left.
    // Returns how many ran.
    std::size_t runReady();

    // Moves time forward by `span`, running every timer at its due time in order (and whatever is
    // posted meanwhile), then runs what is ready at the end.
    void advance(core::Seconds span);

    // Moves the wall clock to `date`, and the uptime by as much, without running anything: a
    // suspend, during which the timers' own (monotonic) clock stands still.
    void jumpTo(core::Date date);

    // Sets the wall clock to `date`, as a user or a time daemon does, either way: neither the
    // uptime nor the timers move.
    void setWallClock(core::Date date);

    // Runs ready jobs and waits (real time, at most `timeout`) for jobs posted from other threads
    // until `done` returns true. Returns done()'s last answer.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20));

    std::size_t pendingTimers() const;
    // The due time of the earliest pending timer on the wall clock, or none.
    std::optional<core::Date> nextDue() const;

private:
    struct Timer {
        core::Date due;
        TimerID id;
        Job job;
    };
    bool runOne();

    mutable std::mutex mutex_;
    std::condition_variable posted_;
    // The timers' clock; the wall clock and the uptime are it plus their offsets.
    core::Date time_;
    core::Seconds wallOffset_ = 0;
    core::Seconds uptimeOffset_ = 0;
    TimerID next_ = 1;
    std::deque<Job> ready_;
    // Ordered by due time, then by the order of posting.
    std::map<std::pair<core::Date, TimerID>, Job> timers_;
};

} // namespace meterly::state
