#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

namespace meterly::proxy {

// Which event loop serves the next connection. A loop takes up to `packed` connections before the
// next loop is used, so that a few connections share one loop: its thread then often finds work of
// another connection at hand instead of going to sleep and being woken for each of its own. Past
// that, each new connection goes to the loop serving the fewest. Connections are counted from
// placing to release.
class LoopPlacement {
public:
    LoopPlacement(std::size_t loops, std::size_t packed);

    // Chooses a loop for a new connection and counts the connection there. Called by one thread
    // at a time (the accept loop).
    std::size_t place();
    // The connection placed on `loop` has ended. Safe from any thread.
    void release(std::size_t loop);

    std::size_t connections(std::size_t loop) const;

private:
    std::size_t loops_;
    std::size_t packed_;
    std::unique_ptr<std::atomic<std::size_t>[]> connections_;
};

} // namespace meterly::proxy
