#include "core/UsageSource.hpp"

#include "core/Task.hpp"

#include <memory>

namespace meterly::core {

AsyncStream<UsageSourceEvent> UsageSource::events() {
    auto snapshotStream = snapshots();
    auto stopSnapshots = snapshotStream.canceller();
    auto [events, continuation] = AsyncStream<UsageSourceEvent>::make(StreamBuffering::unbounded());
    // The stream is moved into the task, which is then its only consumer.
    auto inner = std::make_shared<AsyncStream<UsageSnapshot>>(std::move(snapshotStream));
    auto task = startTask([inner, continuation = continuation](const CancellationToken& token) {
        while (!token.isCancelled()) {
            auto snapshot = inner->next();
            if (!snapshot) {
                break;
            }
            Date capturedAt = snapshot->capturedAt;
            continuation.yield(UsageSourceEvent::status(std::move(snapshot), 0, capturedAt));
        }
        inner->cancel();
        continuation.finish();
    });
    // When the consumer of the events stops, the task stops consuming the snapshots.
    continuation.setOnTermination([task, stopSnapshots](StreamTermination) {
        task->cancel();
        stopSnapshots();
    });
    return std::move(events);
}

} // namespace meterly::core
