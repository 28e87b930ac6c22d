#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::config {

// The parts of a URL reference (RFC 3986) that the connection code looks at. Parsing is strict:
// a text with a character that URLs do not allow, a broken percent escape or a port that is not
// all digits does not parse. A host is present only with an authority ("//").
struct URLComponents {
    std::optional<std::string> scheme;
    // As written, an IPv6 literal with its brackets; not percent-decoded.
    std::optional<std::string> host;
    // The explicit port, when the authority has one with at least one digit.
    std::optional<std::uint32_t> port;

    static std::optional<URLComponents> parse(std::string_view text);
};

} // namespace meterly::config
