#include "proxy/ProxyError.hpp"

#include <ostream>

namespace meterly::proxy {

namespace {

// The case names of the errors the proxy's own reading finds.
std::string_view ownName(ProxyFailure failure) {
    switch (failure.kind()) {
    case ProxyFailure::malformedMessage:
        return "malformedHead";
    case ProxyFailure::connectionClosed:
        return "peerClosed";
    default:
        return failure.description();
    }
}

} // namespace

ProxyError ProxyError::network(ProxyFailure failure) {
    switch (failure.kind()) {
    case ProxyFailure::timedOut:
        return timedOut();
    case ProxyFailure::cancelled:
        return cancelled();
    default:
        return ProxyError(failure, true);
    }
}

ProxyError::ProxyError(ProxyFailure failure, bool isNetwork)
    : failure_(failure), isNetwork_(isNetwork) {
    if (isNetwork) {
        text_ = "network(";
        text_ += failure.description();
        text_ += ")";
    } else {
        text_ = ownName(failure);
    }
}

std::ostream& operator<<(std::ostream& out, const ProxyError& error) {
    return out << error.what();
}

} // namespace meterly::proxy
