#pragma once

#include "core/RateLimitHeaderParser.hpp"

#include <cstdint>
#include <string_view>

namespace meterly::proxy {

// What a header name means to this proxy: the framing and connection fields, the hop-by-hop ones,
// Host, and the rate-limit fields that usage is read from. Names are recognised by their full
// lower-case form, as namesMatch compares them, once for each field built.
class KnownHeaderName {
public:
    enum class Kind : std::uint8_t {
        other,
        host,
        connection,
        keepAlive,
        upgrade,
        transferEncoding,
        contentLength,
        // Every name that starts with "proxy-".
        proxyPrefixed,
        rateLimit,
    };

    static KnownHeaderName of(std::string_view name);
    // The same for a name whose every byte is ASCII, for a caller that has checked that already.
    static KnownHeaderName ofASCII(std::string_view name);

    Kind kind() const { return kind_; }
    // Which rate-limit field; meaningful for the kind rateLimit only.
    core::RateLimitHeaderParser::Field rateLimitField() const { return rateLimitField_; }

    friend bool operator==(const KnownHeaderName&, const KnownHeaderName&) = default;

private:
    KnownHeaderName(Kind kind, core::RateLimitHeaderParser::Field field)
        : kind_(kind), rateLimitField_(field) {}

    Kind kind_;
    core::RateLimitHeaderParser::Field rateLimitField_;
};

} // namespace meterly::proxy
