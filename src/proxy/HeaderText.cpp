#include "proxy/HeaderText.hpp"

#include "core/AsciiText.hpp"
#include "core/UTF8.hpp"

#include <charconv>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <locale.h>
#include <optional>
#include <wctype.h>

namespace meterly::proxy::text {

namespace {

struct Decoded {
    char32_t codePoint;
    std::size_t length;
};

// Decodes one well-formed UTF-8 sequence at the front of the text; nullopt when there is none.
std::optional<Decoded> decodeOne(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    const auto decoded = core::utf8::decodeOne(text, 0);
    if (!decoded.valid) {
        return std::nullopt;
    }
    return Decoded{decoded.scalar, decoded.length};
}

// Decodes the last well-formed UTF-8 sequence of the text; nullopt when it does not end in one.
std::optional<Decoded> decodeLast(std::string_view text) {
    const std::size_t limit = text.size() < 4 ? text.size() : 4;
    for (std::size_t length = 1; length <= limit; ++length) {
        auto decoded = decodeOne(text.substr(text.size() - length));
        if (decoded && decoded->length == length) {
            return decoded;
        }
    }
    return std::nullopt;
}

void appendUTF8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// A Unicode locale for the case tables, made once and never changed; the process-wide locale is
// left alone. Null when the C library has none, in which case only ASCII is folded.
locale_t unicodeLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return locale;
}

char32_t lowerCodePoint(char32_t codePoint) {
    if (codePoint < 0x80) {
        return (codePoint >= 'A' && codePoint <= 'Z') ? codePoint + 0x20 : codePoint;
    }
    const locale_t locale = unicodeLocale();
    if (locale == locale_t{}) {
        return codePoint;
    }
    return static_cast<char32_t>(towlower_l(static_cast<wint_t>(codePoint), locale));
}

bool isWhitespace(char32_t c) {
    return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

} // namespace

bool isASCII(std::string_view text) {
    // No early exit: the whole text is folded together, eight bytes at a time.
    std::uint64_t all = 0;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, text.data() + i, 8);
        all |= word;
    }
    for (; i < text.size(); ++i) {
        all |= static_cast<std::uint8_t>(text[i]);
    }
    return (all & 0x8080808080808080ULL) == 0;
}

bool isValidUTF8(ByteView bytes) {
    return core::utf8::isValid(asText(bytes));
}

std::string latin1ToUTF8(ByteView bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::uint8_t byte : bytes) {
        appendUTF8(out, byte);
    }
    return out;
}

std::string lowercased(std::string_view text) {
    if (isASCII(text)) {
        std::string out(text);
        for (char& c : out) {
            c = core::ascii::lowered(c);
        }
        return out;
    }
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        auto decoded = decodeOne(text);
        if (!decoded) {
            out.push_back(text.front());
            text.remove_prefix(1);
            continue;
        }
        appendUTF8(out, lowerCodePoint(decoded->codePoint));
        text.remove_prefix(decoded->length);
    }
    return out;
}

bool namesMatchBeyondFirst(std::string_view a, std::string_view b) {
    // One pass while both names are ASCII: case folding keeps each ASCII character in its place,
    // so two ASCII characters that differ after folding decide the answer at once.
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        if (static_cast<std::uint8_t>(a[i]) >= 0x80 || static_cast<std::uint8_t>(b[i]) >= 0x80) {
            return lowercased(a) == lowercased(b);
        }
        if (core::ascii::lowered(a[i]) != core::ascii::lowered(b[i])) {
            return false;
        }
    }
    if (a.size() == b.size()) {
        return true;
    }
    // Names of different sizes can still match only through other characters, whose lower-case
    // forms may differ in size.
    const std::string_view rest = a.size() > b.size() ? a.substr(common) : b.substr(common);
    return !isASCII(rest) && lowercased(a) == lowercased(b);
}

std::string_view trimmed(std::string_view text) {
    // ASCII ends take the short way: of them only the tab and the space are whitespace.
    while (!text.empty() && static_cast<std::uint8_t>(text.front()) < 0x80) {
        if (text.front() != ' ' && text.front() != '\t') {
            break;
        }
        text.remove_prefix(1);
    }
    while (!text.empty() && static_cast<std::uint8_t>(text.back()) < 0x80) {
        if (text.back() != ' ' && text.back() != '\t') {
            break;
        }
        text.remove_suffix(1);
    }
    const auto asciiEnds = [&] {
        return text.empty() || (static_cast<std::uint8_t>(text.front()) < 0x80 &&
                                static_cast<std::uint8_t>(text.back()) < 0x80);
    };
    if (asciiEnds()) {
        return text;
    }
    while (auto first = decodeOne(text)) {
        if (!isWhitespace(first->codePoint)) {
            break;
        }
        text.remove_prefix(first->length);
    }
    while (auto last = decodeLast(text)) {
        if (!isWhitespace(last->codePoint)) {
            break;
        }
        text.remove_suffix(last->length);
    }
    return text;
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return std::nullopt;
    }
    // Parsed with the sign attached so that the most negative value fits.
    const std::string digits = (negative ? "-" : "") + std::string(text);
    std::int64_t value = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value, 10);
    if (error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

} // namespace meterly::proxy::text
