#include "config/UTF8.hpp"

#include "core/UTF8.hpp"

#include <cstddef>
#include <cstdint>

namespace meterly::config::utf8 {

namespace {

using core::utf8::decodeOne;

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

} // namespace meterly::config::utf8
