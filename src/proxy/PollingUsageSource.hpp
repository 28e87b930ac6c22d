#pragma once

#include "core/AsyncStream.hpp"
#include "core/CancellationToken.hpp"
#include "core/Time.hpp"
#include "core/UsageSource.hpp"
#include "proxy/StatusClient.hpp"

#include <cstdint>
#include <functional>
#include <optional>

namespace meterly::proxy {

// The app's usage source: reads the proxy's status endpoint at once and then after every
// interval, reports a reading when it tells something new (or the proxy answers again after three
// or more failures), and reports failed readings at the 3rd and every 15th in a row.
class PollingUsageSource : public core::UsageSource {
public:
    // One reading; throws on any failure.
    using Fetch = std::function<ProxyStatusReport(const core::CancellationToken&)>;
    // The pause after each reading; returns early when the token is cancelled.
    using Pause = std::function<void(core::Seconds, const core::CancellationToken&)>;

    PollingUsageSource(StatusClient client, core::Seconds interval);
    PollingUsageSource(Fetch fetch, core::Seconds interval, Pause pause = sleepOnSteadyClock);

    core::Seconds interval() const { return interval_; }

    // Each call starts a poller of its own, which takes its first reading at once.
    core::AsyncStream<core::UsageSourceEvent> events() override;
    // The snapshots of the status events of a new events() stream; readings without a snapshot
    // and failures are skipped.
    core::AsyncStream<core::UsageSnapshot> snapshots() override;

    static void sleepOnSteadyClock(core::Seconds span, const core::CancellationToken& token);

private:
    // The state of one poller between readings.
    struct PollState {
        std::optional<ProxyStatusReport> lastReading;
        std::int64_t failures = 0;
    };
    // Applies one reading (nullopt for a failed one) to `state` and returns the event to yield.
    static std::optional<core::UsageSourceEvent>
    step(PollState& state, const std::optional<ProxyStatusReport>& reading);

    Fetch fetch_;
    core::Seconds interval_;
    Pause pause_;
};

} // namespace meterly::proxy
