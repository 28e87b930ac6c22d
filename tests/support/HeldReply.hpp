#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace meterly::testing {

// A stall for a test server's responder: hold() keeps the connection waiting until the test lets
// go, or until `limit` has passed. ended() tells the test whether the stall is over, so that it
// can show that something returned while the server still held the connection.
class HeldReply {
public:
    explicit HeldReply(std::chrono::seconds limit) : limit_(limit) {}

    void hold() {
        std::unique_lock lock(mutex_);
        ++holding_;
        changed_.notify_all();
        changed_.wait_for(lock, limit_, [this] { return released_; });
        ended_ = true;
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    bool ended() const {
        std::lock_guard lock(mutex_);
        return ended_;
    }
    // Waits until a responder is holding, at most `limit`.
    bool waitUntilHolding(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return holding_ > 0; });
    }

private:
    std::chrono::seconds limit_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int holding_ = 0;
    bool released_ = false;
    bool ended_ = false;
};

} // namespace meterly::testing
