#include "proxy/KnownHeaderName.hpp"

#include "proxy/HeaderText.hpp"

namespace meterly::proxy {

KnownHeaderName KnownHeaderName::of(std::string_view name) {
    if (text::isASCII(name)) {
        return ofASCII(name);
    }
    // Other characters may lower-case to ASCII letters.
    return ofASCII(text::lowercased(name));
}

KnownHeaderName KnownHeaderName::ofASCII(std::string_view name) {
    using text::equalsLowerASCII;
    using Field = core::RateLimitHeaderParser::Field;
    const auto known = [](Kind kind) { return KnownHeaderName(kind, Field{}); };
    const auto otherwise = known(Kind::other);
    if (name.empty()) {
        return otherwise;
    }
    // The first letter narrows the names down to one or two before any is compared.
    switch (name.front() | 0x20) {
    case 'h':
        return equalsLowerASCII(name, "host") ? known(Kind::host) : otherwise;
    case 'c':
        if (equalsLowerASCII(name, "connection")) {
            return known(Kind::connection);
        }
        return equalsLowerASCII(name, "content-length") ? known(Kind::contentLength) : otherwise;
    case 'k':
        return equalsLowerASCII(name, "keep-alive") ? known(Kind::keepAlive) : otherwise;
    case 'u':
        return equalsLowerASCII(name, "upgrade") ? known(Kind::upgrade) : otherwise;
    case 't':
        return equalsLowerASCII(name, "transfer-encoding") ? known(Kind::transferEncoding)
                                                           : otherwise;
    case 'p': {
        constexpr std::string_view proxyPrefix = "proxy-";
        return name.size() >= proxyPrefix.size() &&
                       equalsLowerASCII(name.substr(0, proxyPrefix.size()), proxyPrefix)
                   ? known(Kind::proxyPrefixed)
                   : otherwise;
    }
    case 'a':
        if (const auto field = core::RateLimitHeaderParser::field(name)) {
            return KnownHeaderName(Kind::rateLimit, *field);
        }
        return otherwise;
    default:
        return otherwise;
    }
}

} // namespace meterly::proxy
