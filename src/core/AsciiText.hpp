#pragma once

#include <string>
#include <string_view>

// Character rules for protocol text: header names, host names, hexadecimal numbers, unit files.
// Only ASCII letters change case here, whatever the process locale says; bytes from 0x80 up are
// left as they are.
namespace meterly::core::ascii {

constexpr char lowered(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

constexpr char uppered(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

std::string lowercased(std::string_view text);
std::string uppercased(std::string_view text);

// The value of a hexadecimal digit in either case, or -1 for any other character.
constexpr int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

constexpr bool isHexDigit(char c) {
    return hexDigitValue(c) >= 0;
}

// Space and horizontal tab.
constexpr bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The C locale's white space: space, tab, line feed, vertical tab, form feed, carriage return.
constexpr bool isSpace(char c) {
    return isBlank(c) || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A control character: below 0x20, or DEL.
constexpr bool isControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

// Appends `c` as it is written inside a double-quoted string: a backslash before a double quote or
// a backslash, "\\n", "\\r" and "\\t" for those, any other control character as `controlFormat`
// (a printf format of one unsigned int, such as "\\x%02x") writes its byte, anything else as it is.
void appendQuoted(std::string& out, char c, const char* controlFormat);

// The text without the leading and trailing characters for which `trim` holds.
constexpr std::string_view trimmed(std::string_view text, bool (*trim)(char) = isSpace) {
    while (!text.empty() && trim(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && trim(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace meterly::core::ascii
