#include "proxy/ProxyError.hpp"

#include <array>
#include <ostream>

namespace meterly::proxy {

namespace {

constexpr std::array<std::string_view, 7> errorNames{
    "network",    "malformedHead", "headTooLarge", "invalidFraming",
    "peerClosed", "timedOut",      "cancelled",
};

} // namespace

ProxyError ProxyError::network(ProxyFailure failure) {
    switch (failure.kind()) {
    case ProxyFailure::timedOut:
        return timedOut();
    case ProxyFailure::cancelled:
        return cancelled();
    default:
        return ProxyError(Kind::network, failure);
    }
}

ProxyError::ProxyError(Kind kind, ProxyFailure failure)
    : kind_(kind), failure_(kind == Kind::network ? failure : ProxyFailure::other),
      text_(errorNames.at(static_cast<std::size_t>(kind))) {
    if (kind == Kind::network) {
        text_ += "(";
        text_ += failure.description();
        text_ += ")";
    }
}

std::ostream& operator<<(std::ostream& out, const ProxyError& error) {
    return out << error.what();
}

} // namespace meterly::proxy
