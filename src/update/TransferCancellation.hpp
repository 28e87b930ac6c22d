#pragma once

#include <mutex>

namespace meterly::update {

// The stop signal of the transfers of one owner (the feed checker, the downloader). cancel() may
// be called from any thread: a transfer running then ends within moments, one started afterwards
// ends at once, both with TransferError::Kind::cancelled. It cannot be taken back.
class TransferCancellation {
public:
    TransferCancellation() = default;
    TransferCancellation(const TransferCancellation&) = delete;
    TransferCancellation& operator=(const TransferCancellation&) = delete;

    void cancel();
    bool isCancelled() const;

    // For the transfer itself: the libcurl multi handle whose wait cancel() wakes, until
    // detach(). False, and nothing kept, when already cancelled.
    bool attach(void* multi);
    void detach();

private:
    mutable std::mutex mutex_;
    bool cancelled_ = false;
    void* multi_ = nullptr;
};

} // namespace meterly::update
