#include "core/CancellationToken.hpp"

#include <chrono>

namespace meterly::core {

void CancellationToken::cancel() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    changed_.notify_all();
}

bool CancellationToken::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool CancellationToken::sleepFor(Seconds span) const {
    std::unique_lock lock(mutex_);
    if (span > 1e9) {
        // Longer than the steady clock can count in its own units: wait for cancellation only.
        changed_.wait(lock, [this] { return cancelled_; });
    } else if (span > 0) {
        auto wait = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(span));
        changed_.wait_for(lock, wait, [this] { return cancelled_; });
    }
    return !cancelled_;
}

} // namespace meterly::core
