#include "update/TransferCancellation.hpp"

#include <curl/curl.h>

namespace meterly::update {

void TransferCancellation::cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    if (multi_ != nullptr) {
        // Held under the lock, so the transfer cannot free the handle meanwhile.
        curl_multi_wakeup(static_cast<CURLM*>(multi_));
    }
}

bool TransferCancellation::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool TransferCancellation::attach(void* multi) {
    std::lock_guard lock(mutex_);
    if (cancelled_) {
        return false;
    }
    multi_ = multi;
    return true;
}

void TransferCancellation::detach() {
    std::lock_guard lock(mutex_);
    multi_ = nullptr;
}

} // namespace meterly::update
