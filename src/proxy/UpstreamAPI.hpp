#pragma once

#include <cstdint>
#include <string_view>

namespace meterly::proxy {

// The API host that Claude Code talks to, reached over TLS.
inline constexpr std::string_view upstreamAPIHost = "api.anthropic.com";
inline constexpr std::uint16_t upstreamAPIPort = 443;

} // namespace meterly::proxy
