#include "proxy/ProxyFailure.hpp"

#include "proxy/ProxyError.hpp"

#include <array>
#include <asio/error.hpp>
#include <asio/ssl/error.hpp>
#include <cerrno>
#include <ostream>

namespace meterly::proxy {

namespace {

struct FailureText {
    std::string_view name;
    std::string_view explanation;
};

constexpr std::array<FailureText, 12> failureTexts{{
    {"connectionRefused", "connection refused"},
    {"hostUnreachable", "host unreachable"},
    {"dnsFailure", "DNS lookup failed"},
    {"tlsFailure", "TLS handshake failed"},
    {"timedOut", "timed out"},
    {"connectionClosed", "connection closed early"},
    {"malformedMessage", "malformed HTTP message"},
    {"headTooLarge", "HTTP head too large"},
    {"invalidFraming", "invalid message framing"},
    {"cancelled", "cancelled"},
    {"addressInUse", "address already in use"},
    {"other", "unknown network error"},
}};

// Operating-system errors, folded by their POSIX names.
ProxyFailure fromErrno(int code) {
    switch (code) {
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN:
        return ProxyFailure::connectionClosed;
    case EADDRINUSE:
        return ProxyFailure::addressInUse;
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTUNREACH:
        return ProxyFailure::hostUnreachable;
    case ETIMEDOUT:
        return ProxyFailure::timedOut;
    case ECONNREFUSED:
        return ProxyFailure::connectionRefused;
    case ECANCELED:
        return ProxyFailure::cancelled;
    default:
        return ProxyFailure::other;
    }
}

} // namespace

std::string_view ProxyFailure::description() const {
    return failureTexts.at(kind_).name;
}

std::string_view ProxyFailure::explanation() const {
    return failureTexts.at(kind_).explanation;
}

std::optional<ProxyFailure> ProxyFailure::fromRawValue(std::string_view name) {
    for (std::size_t i = 0; i < failureTexts.size(); ++i) {
        if (failureTexts[i].name == name) {
            return ProxyFailure(static_cast<Kind>(i));
        }
    }
    return std::nullopt;
}

ProxyFailure ProxyFailure::from(const ProxyError& error) {
    return error.failure();
}

ProxyFailure ProxyFailure::from(const std::error_code& error) {
    if (!error) {
        return other;
    }
    const auto& category = error.category();
    if (category == std::system_category() || category == std::generic_category() ||
        category == asio::error::get_system_category()) {
        return fromErrno(error.value());
    }
    if (category == asio::error::get_misc_category()) {
        return error == asio::error::eof ? connectionClosed : other;
    }
    if (category == asio::error::get_netdb_category() ||
        category == asio::error::get_addrinfo_category()) {
        return dnsFailure;
    }
    if (category == asio::ssl::error::get_stream_category()) {
        // A peer that drops the TCP connection without closing TLS first.
        return error == asio::ssl::error::stream_truncated ? connectionClosed : tlsFailure;
    }
    if (category == asio::error::get_ssl_category()) {
        return tlsFailure;
    }
    return other;
}

ProxyFailure ProxyFailure::from(const std::exception& error) {
    if (const auto* proxyError = dynamic_cast<const ProxyError*>(&error)) {
        return from(*proxyError);
    }
    if (const auto* systemError = dynamic_cast<const std::system_error*>(&error)) {
        return from(systemError->code());
    }
    return other;
}

ProxyFailure ProxyFailure::from(std::exception_ptr error) {
    if (!error) {
        return other;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return from(caught);
    } catch (...) {
        return other;
    }
}

std::ostream& operator<<(std::ostream& out, ProxyFailure failure) {
    return out << failure.description();
}

} // namespace meterly::proxy
