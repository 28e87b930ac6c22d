#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace meterly::core::utf8 {

struct Decoded {
    char32_t scalar = 0;
    std::size_t length = 0; // bytes consumed
    bool valid = false;
};

// Decodes one scalar at `at`. An ill-formed sequence reports the length of its maximal subpart
// (at least one byte), so that decoding can go on after it.
Decoded decodeOne(std::string_view bytes, std::size_t at);

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past
// U+10FFFF).
bool isValid(std::string_view bytes);

// The bytes with every ill-formed sequence replaced by U+FFFD (one per maximal invalid subpart).
std::string decodeLossy(std::string_view bytes);

// Whether well-formed UTF-8 text holds nothing but white space and line ends, in the full
// Unicode sense (spaces, tabs, line and paragraph separators, no-break spaces, and so on).
bool isBlank(std::string_view text);

} // namespace meterly::core::utf8
