#include "config/URLComponents.hpp"

#include "core/AsciiText.hpp"

namespace meterly::config {

namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Unreserved, reserved and the percent sign: everything a URL may hold as written.
bool isURLCharacter(char c) {
    if (isAlpha(c) || isDigit(c)) {
        return true;
    }
    switch (c) {
    case '-':
    case '.':
    case '_':
    case '~': // unreserved
    case ':':
    case '/':
    case '?':
    case '#':
    case '[':
    case ']':
    case '@': // gen-delims
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*': // sub-delims
    case '+':
    case ',':
    case ';':
    case '=':
    case '%':
        return true;
    default:
        return false;
    }
}

bool wellFormedCharacters(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isURLCharacter(text[i])) {
            return false;
        }
        if (text[i] == '%' && (i + 2 >= text.size() || !core::ascii::isHexDigit(text[i + 1]) ||
                               !core::ascii::isHexDigit(text[i + 2]))) {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<URLComponents> URLComponents::parse(std::string_view text) {
    if (!wellFormedCharacters(text)) {
        return std::nullopt;
    }
    URLComponents result;
    std::string_view rest = text;

    // scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
    if (!rest.empty() && isAlpha(rest[0])) {
        std::size_t i = 1;
        while (i < rest.size() && (isAlpha(rest[i]) || isDigit(rest[i]) || rest[i] == '+' ||
                                   rest[i] == '-' || rest[i] == '.')) {
            ++i;
        }
        if (i < rest.size() && rest[i] == ':') {
            result.scheme = std::string(rest.substr(0, i));
            rest.remove_prefix(i + 1);
        }
    }

    if (rest.substr(0, 2) != "//") {
        // No authority. Without a scheme, a colon in the first segment is not allowed.
        if (!result.scheme) {
            auto segmentEnd = rest.find_first_of("/?#");
            if (rest.substr(0, segmentEnd).find(':') != std::string_view::npos) {
                return std::nullopt;
            }
        }
        return result;
    }
    rest.remove_prefix(2);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (auto at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::string_view host;
    std::string_view afterHost;
    if (!authority.empty() && authority[0] == '[') {
        auto close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        host = authority.substr(0, close + 1);
        afterHost = authority.substr(close + 1);
        if (!afterHost.empty() && afterHost[0] != ':') {
            return std::nullopt;
        }
    } else {
        auto colon = authority.find(':');
        host = authority.substr(0, colon);
        afterHost = colon == std::string_view::npos ? std::string_view() : authority.substr(colon);
    }
    if (host.find_first_of("[]") != std::string_view::npos && host.front() != '[') {
        return std::nullopt;
    }
    if (!afterHost.empty()) {
        std::string_view digits = afterHost.substr(1);
        if (digits.size() > 9) {
            return std::nullopt;
        }
        std::uint32_t port = 0;
        for (char c : digits) {
            if (!isDigit(c)) {
                return std::nullopt;
            }
            port = port * 10 + static_cast<std::uint32_t>(c - '0');
        }
        if (!digits.empty()) {
            result.port = port;
        }
    }
    result.host = std::string(host);
    return result;
}

} // namespace meterly::config
