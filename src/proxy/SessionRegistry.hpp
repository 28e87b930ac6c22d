#pragma once

#include "proxy/NetworkStream.hpp"

#include <cstddef>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace meterly::proxy {

// The live client connections of a server: it enforces the cap and lets stopping cancel them all.
// A stream counts from its admission until its session has ended. Safe from any thread.
class SessionRegistry {
public:
    // Admits the stream when the registry is open and holds fewer than `limit` streams.
    bool admit(const std::shared_ptr<NetworkStream>& stream, std::size_t limit);
    // Forgets the stream (its session has ended); a stream not held changes nothing.
    void remove(const NetworkStream* stream);
    // Closes the registry and cancels every stream it held.
    void cancelAll();
    // Opens the registry again for admissions.
    void reopen();
    std::size_t count() const;

private:
    mutable std::mutex lock_;
    std::unordered_map<const NetworkStream*, std::shared_ptr<NetworkStream>> streams_;
    bool closed_ = false;
};

} // namespace meterly::proxy
