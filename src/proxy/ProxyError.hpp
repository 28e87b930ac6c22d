#pragma once

#include <cstdint>
#include <exception>
#include <iosfwd>
#include <optional>
#include <string>
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

// The error the proxy's own code throws.
class ProxyError : public std::exception {
public:
    enum class Kind : std::uint8_t {
        network,
        malformedHead,
        headTooLarge,
        invalidFraming,
        peerClosed,
        timedOut,
        cancelled,
    };

    // A failure met on the network. A time-out or a cancellation is the same error as timedOut()
    // or cancelled(), whichever layer noticed it: the proxy has one form of each.
    static ProxyError network(ProxyFailure failure);
    static ProxyError malformedHead() { return ProxyError(Kind::malformedHead); }
    static ProxyError headTooLarge() { return ProxyError(Kind::headTooLarge); }
    static ProxyError invalidFraming() { return ProxyError(Kind::invalidFraming); }
    static ProxyError peerClosed() { return ProxyError(Kind::peerClosed); }
    static ProxyError timedOut() { return ProxyError(Kind::timedOut); }
    static ProxyError cancelled() { return ProxyError(Kind::cancelled); }

    Kind kind() const { return kind_; }
    // The folded failure of a `network` error; `other` for every other kind.
    ProxyFailure failure() const { return failure_; }

    // "network(addressInUse)" for a network error, else the case name ("timedOut").
    const char* what() const noexcept override { return text_.c_str(); }

    friend bool operator==(const ProxyError& a, const ProxyError& b) {
        return a.kind_ == b.kind_ && a.failure_ == b.failure_;
    }

private:
    explicit ProxyError(Kind kind, ProxyFailure failure = ProxyFailure::other);

    Kind kind_;
    ProxyFailure failure_;
    std::string text_;
};

std::ostream& operator<<(std::ostream& out, const ProxyError& error);

} // namespace meterly::proxy
