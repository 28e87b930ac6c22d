#include "core/AsciiText.hpp"

#include <cstdio>

namespace meterly::core::ascii {

namespace {

// The backslash escape of C and the languages after it; empty for a character that has none.
constexpr std::string_view backslashEscape(char c) {
    switch (c) {
    case '"':
        return "\\\"";
    case '\\':
        return "\\\\";
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '\t':
        return "\\t";
    default:
        return {};
    }
}

} // namespace

void appendQuoted(std::string& out, char c, const char* controlFormat) {
    if (const auto escape = backslashEscape(c); !escape.empty()) {
        out += escape;
    } else if (isControl(c)) {
        char escaped[16];
        std::snprintf(escaped, sizeof escaped, controlFormat, static_cast<unsigned char>(c));
        out += escaped;
    } else {
        out += c;
    }
}

std::string lowercased(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = lowered(c);
    }
    return out;
}

std::string uppercased(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = uppered(c);
    }
    return out;
}

} // namespace meterly::core::ascii
