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

    // Counts one upstream response read at `capturedAt` and publishes the snapshot its headers
    // yield (names lower-cased). Returns the snapshot when it became the latest.
    std::optional<core::UsageSnapshot> ingest(const HTTPHeaders::Dictionary& responseHeaders,
                                              core::Date capturedAt);
    std::optional<core::UsageSnapshot> ingest(const HTTPHeaders& responseHeaders,
                                              core::Date capturedAt);

    // True for the names of the fields that usage is read from (any case).
    static bool isRateLimitName(std::string_view name);

    // Makes `snapshot` the latest and delivers it to every subscriber, unless the latest was
    // captured later: a reading that finished late never replaces a newer one. Returns whether it
    // was published.
    bool publish(const core::UsageSnapshot& snapshot);

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

    // Counts one response read at `capturedAt`.
    void count(core::Date capturedAt);
    // Publishes what the headers yielded, if anything; returns it when it became the latest.
    std::optional<core::UsageSnapshot> publishParsed(std::optional<core::UsageSnapshot> parsed);

    std::shared_ptr<Shared> shared_;
};

} // namespace meterly::proxy
