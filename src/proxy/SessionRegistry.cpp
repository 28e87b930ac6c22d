#include "proxy/SessionRegistry.hpp"

#include <vector>

namespace meterly::proxy {

bool SessionRegistry::admit(const std::shared_ptr<NetworkStream>& stream, std::size_t limit) {
    std::lock_guard guard(lock_);
    if (closed_ || streams_.size() >= limit) {
        return false;
    }
    streams_.emplace(stream.get(), stream);
    return true;
}

void SessionRegistry::remove(const NetworkStream* stream) {
    std::shared_ptr<NetworkStream> removed;
    {
        std::lock_guard guard(lock_);
        const auto found = streams_.find(stream);
        if (found == streams_.end()) {
            return;
        }
        removed = std::move(found->second);
        streams_.erase(found);
    }
    // The last reference may go here, outside the lock.
}

void SessionRegistry::cancelAll() {
    std::unordered_map<const NetworkStream*, std::shared_ptr<NetworkStream>> taken;
    {
        std::lock_guard guard(lock_);
        closed_ = true;
        taken.swap(streams_);
    }
    for (auto& [identity, stream] : taken) {
        stream->cancel();
    }
}

void SessionRegistry::reopen() {
    std::lock_guard guard(lock_);
    closed_ = false;
}

std::size_t SessionRegistry::count() const {
    std::lock_guard guard(lock_);
    return streams_.size();
}

} // namespace meterly::proxy
