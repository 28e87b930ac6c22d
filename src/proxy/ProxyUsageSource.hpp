#pragma once

#include "core/AsyncStream.hpp"
#include "core/RateLimitHeaderParser.hpp"
#include "core/Time.hpp"
#include "core/UsageSnapshot.hpp"
#include "core/UsageSource.hpp"
#include "proxy/HTTPHeaders.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace meterly::proxy {

// The proxy's three values, read together.
struct ProxyUsageState {
    std::optional<core::UsageSnapshot> latest;
    std::int64_t requestsSeen = 0;
    std::optional<core::Date> lastRequestAt;

    bool operator==(const ProxyUsageState&) const = default;
};

// The proxy process's one record of usage: it counts the upstream responses, remembers when the
// last one was read, keeps the newest snapshot that their rate-limit headers yielded and hands
// snapshots to stream subscribers. Every member may be called from any thread.
class ProxyUsageSource : public core::UsageSource {
public:
    explicit ProxyUsageSource(std::optional<core::UsageSnapshot> initial = std::nullopt);
    ~ProxyUsageSource() override;
    ProxyUsageSource(const ProxyUsageSource&) = delete;
    ProxyUsageSource& operator=(const ProxyUsageSource&) = delete;

    std::optional<core::UsageSnapshot> latest() const;
    std::int64_t requestsSeen() const;
    std::optional<core::Date> lastRequestAt() const;
    // All three under one lock, so that they belong together (the status reply uses this).
    ProxyUsageState state() const;

    // Counts one upstream response read at `capturedAt` (it becomes the time of the last
    // request) and publishes the snapshot its headers yield (names in any case, values as
    // received; texts that are not UTF-8 are read as Latin-1). The response counted last is the
    // latest, whatever its time. Returns the snapshot it published.
    std::optional<core::UsageSnapshot> ingest(const HTTPHeaders& responseHeaders,
                                              core::Date capturedAt);

    // Makes `snapshot` the latest and delivers it to every subscriber.
    void publish(const core::UsageSnapshot& snapshot);

    // Ends every current subscription (the server calls this when it stops). Later subscriptions
    // work as before.
    void finish();

    // Each call subscribes anew: a stream that keeps the newest 8 snapshots and begins with the
    // latest one, if any.
    core::AsyncStream<core::UsageSnapshot> snapshots() override;
    // Each call subscribes anew: a status event with the current values at once, then one for
    // every snapshot published.
    core::AsyncStream<core::UsageSourceEvent> events() override;

    // Number of current snapshot subscriptions.
    std::size_t subscriberCount() const;

private:
    struct Shared;

    // Counts one response read at `capturedAt` and makes what its headers yielded, if anything,
    // the latest; returns that.
    std::optional<core::UsageSnapshot> record(std::optional<core::UsageSnapshot> parsed,
                                              core::Date capturedAt);
    // Hands a published snapshot to the given subscribers, outside the lock.
    static void
    deliver(const std::vector<core::AsyncStream<core::UsageSnapshot>::Continuation>& producers,
            const core::UsageSnapshot& snapshot);

    std::shared_ptr<Shared> shared_;
};

} // namespace meterly::proxy
