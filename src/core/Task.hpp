#pragma once

#include "core/Time.hpp"

#include <condition_variable>
#include <functional>
#include <memory>
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

// Runs `body` on a thread of its own that nobody joins, and hands back the token that stops it.
// Whatever the body needs must be owned by the body (captured by value), never borrowed.
std::shared_ptr<CancellationToken> startTask(std::function<void(const CancellationToken&)> body);

} // namespace meterly::core
