#include "proxy/LoopPlacement.hpp"

#include <limits>

namespace meterly::proxy {

LoopPlacement::LoopPlacement(std::size_t loops, std::size_t packed)
    : loops_(loops == 0 ? 1 : loops), packed_(packed == 0 ? 1 : packed),
      connections_(std::make_unique<std::atomic<std::size_t>[]>(loops_)) {}

std::size_t LoopPlacement::place() {
    std::size_t chosen = 0;
    std::size_t fewest = std::numeric_limits<std::size_t>::max();
    for (std::size_t loop = 0; loop < loops_; ++loop) {
        const std::size_t count = connections_[loop].load(std::memory_order_relaxed);
        if (count < packed_) {
            // The first loop with room: the connections stay together.
            chosen = loop;
            break;
        }
        if (count < fewest) {
            fewest = count;
            chosen = loop;
        }
    }
    connections_[chosen].fetch_add(1, std::memory_order_relaxed);
    return chosen;
}

void LoopPlacement::release(std::size_t loop) {
    if (loop < loops_) {
        connections_[loop].fetch_sub(1, std::memory_order_relaxed);
    }
}

std::size_t LoopPlacement::connections(std::size_t loop) const {
    return loop < loops_ ? connections_[loop].load(std::memory_order_relaxed) : 0;
}

} // namespace meterly::proxy
