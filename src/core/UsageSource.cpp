#include "core/UsageSource.hpp"

#include "core/StreamForwarding.hpp"

#include <utility>

namespace meterly::core {

AsyncStream<UsageSourceEvent> UsageSource::events() {
    return forwardStream<UsageSourceEvent>(
        snapshots(),
        [](UsageSnapshot& snapshot, const AsyncStream<UsageSourceEvent>::Continuation& out) {
            Date capturedAt = snapshot.capturedAt;
            out.yield(UsageSourceEvent::status(std::move(snapshot), 0, capturedAt));
            return true;
        });
}

} // namespace meterly::core
