#pragma once

#include "proxy/Bytes.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Text rules shared by the HTTP message types: how received bytes become text, how header names
// are compared, and which characters count as whitespace when a value is trimmed. Text is held as
// UTF-8 throughout.
namespace meterly::proxy::text {

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past
// U+10FFFF).
bool isValidUTF8(ByteView bytes);

// Reads every byte as one ISO Latin-1 character and returns the text as UTF-8.
std::string latin1ToUTF8(ByteView bytes);

// The lower-case form of a text, one character at a time. ASCII takes a fast path; other
// characters use the C library's Unicode case tables. Bytes that are not UTF-8 stay as they are.
std::string lowercased(std::string_view text);

// True when every byte is ASCII.
bool isASCII(std::string_view text);

// True when `text` equals `lower`, an ASCII text in lower case, with its ASCII letters in either
// case. Other characters never match here (see namesMatch for the full comparison).
constexpr bool equalsLowerASCII(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != lower[i] && !(c >= 'A' && c <= 'Z' && static_cast<char>(c + 0x20) == lower[i])) {
            return false;
        }
    }
    return true;
}

// True when `lower`, an ASCII text in lower case, occurs in `text` with its ASCII letters in
// either case.
constexpr bool containsLowerASCII(std::string_view text, std::string_view lower) {
    for (std::size_t at = 0; at + lower.size() <= text.size(); ++at) {
        if (equalsLowerASCII(text.substr(at, lower.size()), lower)) {
            return true;
        }
    }
    return false;
}

// namesMatch past its quick refusal.
bool namesMatchBeyondFirst(std::string_view a, std::string_view b);

// True when the lower-case forms of the two names are equal. Case folding keeps an ASCII
// character in its place and changes at most its 0x20 bit, so two names whose first characters
// are ASCII and differ in another bit never match: most lookups end there, without a call.
inline bool namesMatch(std::string_view a, std::string_view b) {
    if (!a.empty() && !b.empty()) {
        const auto x = static_cast<std::uint8_t>(a.front());
        const auto y = static_cast<std::uint8_t>(b.front());
        if (x < 0x80 && y < 0x80 && (x | 0x20) != (y | 0x20)) {
            return false;
        }
    }
    return namesMatchBeyondFirst(a, b);
}

// The text without leading and trailing whitespace: the horizontal tab and every Unicode space
// separator. Line breaks are not whitespace here.
std::string_view trimmed(std::string_view text);

// A base-10 signed 64-bit integer: an optional "+" or "-", then one or more ASCII digits and
// nothing else; nullopt for anything else or a value out of range.
std::optional<std::int64_t> parseInteger(std::string_view text);

} // namespace meterly::proxy::text
