#pragma once

#include "proxy/ProxyFailure.hpp"

#include <exception>
#include <iosfwd>
#include <string>
#include <string_view>

namespace meterly::proxy {

// The error the proxy's own code throws. It carries one failure of the proxy's vocabulary and
// whether the network reported it (a socket, TLS, the resolver) or the proxy's own reading of the
// exchange found it.
class ProxyError : public std::exception {
public:
    // A failure met on the network. A time-out or a cancellation is the same error as timedOut()
    // or cancelled(), whichever layer noticed it: the proxy has one form of each.
    static ProxyError network(ProxyFailure failure);
    static ProxyError malformedHead() { return ProxyError(ProxyFailure::malformedMessage); }
    static ProxyError headTooLarge() { return ProxyError(ProxyFailure::headTooLarge); }
    static ProxyError invalidFraming() { return ProxyError(ProxyFailure::invalidFraming); }
    static ProxyError peerClosed() { return ProxyError(ProxyFailure::connectionClosed); }
    static ProxyError timedOut() { return ProxyError(ProxyFailure::timedOut); }
    static ProxyError cancelled() { return ProxyError(ProxyFailure::cancelled); }

    // What failed.
    ProxyFailure failure() const { return failure_; }

    // "network(addressInUse)" for a network error, else the case name ("timedOut").
    const char* what() const noexcept override { return text_.c_str(); }

    friend bool operator==(const ProxyError& a, const ProxyError& b) {
        return a.failure_ == b.failure_ && a.isNetwork_ == b.isNetwork_;
    }

private:
    explicit ProxyError(ProxyFailure failure, bool isNetwork = false);

    ProxyFailure failure_;
    bool isNetwork_;
    std::string text_;
};

std::ostream& operator<<(std::ostream& out, const ProxyError& error);

} // namespace meterly::proxy
