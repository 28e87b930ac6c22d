#pragma once

#include "core/Time.hpp"
#include "core/UsageSnapshot.hpp"

#include <cstdint>
#include <optional>
#include <variant>

namespace meterly::core {

// What a usage source reports: a successful reading of the proxy's state, or a run of failed
// readings.
class UsageSourceEvent {
public:
    struct Status {
        // Absent while the proxy has not seen a response with rate-limit headers.
        std::optional<UsageSnapshot> snapshot;
        // Upstream responses the proxy has counted since it started.
        std::int64_t requestsSeen = 0;
        // When the last counted response was read.
        std::optional<Date> lastRequestAt;

        bool operator==(const Status&) const = default;
    };

    struct Unreachable {
        // Failed readings in a row.
        std::int64_t consecutiveFailures = 0;

        bool operator==(const Unreachable&) const = default;
    };

    static UsageSourceEvent status(std::optional<UsageSnapshot> snapshot, std::int64_t requestsSeen,
                                   std::optional<Date> lastRequestAt) {
        return UsageSourceEvent(Status{std::move(snapshot), requestsSeen, lastRequestAt});
    }
    static UsageSourceEvent unreachable(std::int64_t consecutiveFailures) {
        return UsageSourceEvent(Unreachable{consecutiveFailures});
    }

    UsageSourceEvent(Status status) : value_(std::move(status)) {}
    UsageSourceEvent(Unreachable unreachable) : value_(unreachable) {}

    // The payload of the case this event is, or nullptr.
    const Status* asStatus() const { return std::get_if<Status>(&value_); }
    const Unreachable* asUnreachable() const { return std::get_if<Unreachable>(&value_); }

    const std::variant<Status, Unreachable>& value() const { return value_; }

    // Same case and equal payloads.
    bool operator==(const UsageSourceEvent&) const = default;

private:
    std::variant<Status, Unreachable> value_;
};

} // namespace meterly::core
