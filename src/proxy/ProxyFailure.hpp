#pragma once

#include <cstdint>
#include <exception>
#include <iosfwd>
#include <optional>
#include <string_view>
#include <system_error>

namespace meterly::proxy {

class ProxyError;

// The proxy's failure vocabulary: every error is folded into one of these before it is logged or
// reported to the client.
class ProxyFailure {
public:
    enum Kind : std::uint8_t {
        connectionRefused,
        hostUnreachable,
        dnsFailure,
        tlsFailure,
        timedOut,
        connectionClosed,
        malformedMessage,
        headTooLarge,
        invalidFraming,
        cancelled,
        addressInUse,
        other,
    };

    constexpr ProxyFailure(Kind kind) : kind_(kind) {} // NOLINT: implicit by design
    constexpr Kind kind() const { return kind_; }

    // The case name ("timedOut").
    std::string_view description() const;
    // The human text that log lines and error bodies show ("timed out").
    std::string_view explanation() const;

    // Exact, case-sensitive match of a case name.
    static std::optional<ProxyFailure> fromRawValue(std::string_view name);

    // Folding an error into the failure it stands for. Never fails: unknown errors are `other`.
    static ProxyFailure from(const ProxyError& error);
    static ProxyFailure from(const std::error_code& error);
    static ProxyFailure from(const std::exception& error);
    static ProxyFailure from(std::exception_ptr error);

    friend constexpr bool operator==(ProxyFailure, ProxyFailure) = default;

private:
    Kind kind_;
};

std::ostream& operator<<(std::ostream& out, ProxyFailure failure);

} // namespace meterly::proxy
