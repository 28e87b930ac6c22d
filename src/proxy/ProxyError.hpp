#pragma once

#include "proxy/ProxyFailure.hpp"

#include <cstdint>
#include <exception>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace meterly::proxy {

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
