#include "core/UTF8.hpp"

#include <cstddef>
#include <cstdint>

namespace meterly::core::utf8 {

namespace {

bool isWhitespaceOrNewline(char32_t c) {
    switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

} // namespace

Decoded decodeOne(std::string_view bytes, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = byte(at);
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    std::size_t need = 0;
    char32_t scalar = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        scalar = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        scalar = lead & 0x0F;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        scalar = lead & 0x07;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return {0, 1, false};
    }
    std::size_t length = 1;
    for (std::size_t k = 0; k < need; ++k) {
        const std::size_t i = at + length;
        if (i >= bytes.size()) {
            return {0, length, false};
        }
        const std::uint8_t next = byte(i);
        const std::uint8_t min = k == 0 ? low : 0x80;
        const std::uint8_t max = k == 0 ? high : 0xBF;
        if (next < min || next > max) {
            return {0, length, false};
        }
        scalar = (scalar << 6) | (next & 0x3F);
        ++length;
    }
    return {scalar, length, true};
}

bool isValid(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        auto decoded = decodeOne(bytes, at);
        if (!decoded.valid) {
            return false;
        }
        at += decoded.length;
    }
    return true;
}

std::string decodeLossy(std::string_view bytes) {
    if (isValid(bytes)) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(bytes.size() + 8);
    for (std::size_t at = 0; at < bytes.size();) {
        auto decoded = decodeOne(bytes, at);
        if (decoded.valid) {
            out.append(bytes.substr(at, decoded.length));
        } else {
            out.append("\xEF\xBF\xBD");
        }
        at += decoded.length;
    }
    return out;
}

bool isBlank(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        auto decoded = decodeOne(text, at);
        if (!decoded.valid || !isWhitespaceOrNewline(decoded.scalar)) {
            return false;
        }
        at += decoded.length;
    }
    return true;
}

} // namespace meterly::core::utf8
