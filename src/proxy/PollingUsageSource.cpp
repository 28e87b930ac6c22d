#include "proxy/PollingUsageSource.hpp"

#include "core/StreamForwarding.hpp"
#include "core/Task.hpp"

#include <memory>

namespace meterly::proxy {

using core::AsyncStream;
using core::StreamBuffering;
using core::StreamTermination;
using core::UsageSnapshot;
using core::UsageSourceEvent;

PollingUsageSource::PollingUsageSource(StatusClient client, core::Seconds interval)
    : PollingUsageSource([client = std::move(client)](
                             const core::CancellationToken& token) { return client.fetch(&token); },
                         interval) {}

PollingUsageSource::PollingUsageSource(Fetch fetch, core::Seconds interval, Pause pause)
    : fetch_(std::move(fetch)), interval_(interval), pause_(std::move(pause)) {}

void PollingUsageSource::sleepOnSteadyClock(core::Seconds span,
                                            const core::CancellationToken& token) {
    token.sleepFor(span);
}

std::optional<UsageSourceEvent>
PollingUsageSource::step(PollState& state, const std::optional<ProxyStatusReport>& reading) {
    if (!reading) {
        std::int64_t failures = state.failures + 1;
        state.failures = failures;
        if (failures == 3 || failures % 15 == 0) {
            return UsageSourceEvent::unreachable(failures);
        }
        return std::nullopt;
    }
    // After a run of three or more failures the reading is reported even when unchanged, so that
    // the consumer learns that the proxy answers again.
    bool unchanged = state.failures <= 2 && state.lastReading == reading;
    state.failures = 0;
    if (unchanged) {
        return std::nullopt;
    }
    state.lastReading = reading;
    return UsageSourceEvent::status(reading->snapshot, reading->requestsSeen,
                                    reading->lastRequestAt);
}

AsyncStream<UsageSourceEvent> PollingUsageSource::events() {
    auto [stream, producer] = AsyncStream<UsageSourceEvent>::make(StreamBuffering::unbounded());
    auto task = core::startTask([fetch = fetch_, pause = pause_, interval = interval_,
                                 producer = producer](const core::CancellationToken& token) {
        PollState state;
        while (!token.isCancelled()) {
            std::optional<ProxyStatusReport> reading;
            try {
                reading = fetch(token);
            } catch (...) {
                // Every failure counts alike: transport, status, body.
            }
            if (auto event = step(state, reading)) {
                producer.yield(std::move(*event));
            }
            pause(interval, token);
        }
        producer.finish();
    });
    producer.setOnTermination([task](StreamTermination) { task->cancel(); });
    return std::move(stream);
}

AsyncStream<UsageSnapshot> PollingUsageSource::snapshots() {
    return core::forwardStream<UsageSnapshot>(
        events(), [](UsageSourceEvent& event, const AsyncStream<UsageSnapshot>::Continuation& out) {
            if (const auto* status = event.asStatus(); status && status->snapshot) {
                out.yield(*status->snapshot);
            }
            return true;
        });
}

} // namespace meterly::proxy
