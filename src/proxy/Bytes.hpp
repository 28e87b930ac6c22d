#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace meterly::proxy {

// Raw bytes as they travel through the proxy.
using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline ByteView asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline std::string_view asText(ByteView bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

} // namespace meterly::proxy
