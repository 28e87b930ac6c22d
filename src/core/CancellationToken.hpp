#pragma once

#include "core/Time.hpp"

#include <condition_variable>
#include <mutex>

namespace meterly::core {

// The stop signal of one background task. The task looks at it between steps; whoever owns the
// task's output (usually a stream's termination handler) calls cancel().
class CancellationToken {
public:
    void cancel();
    bool isCancelled() const;

    // Waits `span` seconds, or less when the token is cancelled meanwhile. Returns false when the
    // wait ended because of cancellation.
    bool sleepFor(Seconds span) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool cancelled_ = false;
};

} // namespace meterly::core
