#include "proxy/HTTPHeadParser.hpp"

#include "proxy/HeaderText.hpp"
#include "proxy/ProxyError.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace meterly::proxy {

namespace {

constexpr std::uint8_t CR = '\r';
constexpr std::uint8_t LF = '\n';

// Field names hold no whitespace and no control characters: a name such as
// "Content-Length " would otherwise name a framing field to one reader and not to another.
// Whether the name is all ASCII comes out of the same pass, for KnownHeaderName.
struct NameCheck {
    bool valid;
    bool ascii;
};

NameCheck checkName(std::string_view name) {
    if (name.empty()) {
        return {false, true};
    }
    // Eight bytes at a time: a word holds a byte below 0x21 when subtracting 0x21 from every byte
    // borrows into a byte whose top bit was clear, and a DEL when the word XOR 0x7F has a zero
    // byte. Every name of every message passes here.
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    const auto hasBelow = [](std::uint64_t word, std::uint64_t n) {
        return ((word - ones * n) & ~word & highs) != 0;
    };
    std::uint64_t all = 0;
    std::size_t i = 0;
    for (; i + 8 <= name.size(); i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, name.data() + i, 8);
        if (hasBelow(word, 0x21) || hasBelow(word ^ (ones * 0x7F), 1)) {
            return {false, false};
        }
        all |= word;
    }
    for (; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte <= 0x20 || byte == 0x7F) {
            return {false, false};
        }
        all |= byte;
    }
    return {true, (all & highs) == 0};
}

// Exactly three digits, 100 to 999.
std::optional<std::int64_t> statusCode(std::string_view code) {
    if (code.size() != 3 || code[0] < '1' || code[0] > '9' ||
        !std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
}

} // namespace

std::optional<std::size_t> HTTPHeadParser::endOfHead(ByteView bytes, std::ptrdiff_t from) {
    const std::size_t count = bytes.size();
    if (count < 2) {
        return std::nullopt;
    }
    // The end is an LF followed by LF, or by CR LF when a CR came before it: found from one LF
    // to the next rather than byte by byte.
    const std::size_t start = from < 0 ? 0 : static_cast<std::size_t>(from);
    const std::string_view text = asText(bytes);
    for (auto lf = text.find('\n', start); lf != std::string_view::npos && lf + 1 < count;
         lf = text.find('\n', lf + 1)) {
        if (bytes[lf + 1] == LF) {
            return lf + 2;
        }
        if (lf > start && lf + 2 < count && bytes[lf - 1] == CR && bytes[lf + 1] == CR &&
            bytes[lf + 2] == LF) {
            return lf + 3;
        }
    }
    return std::nullopt;
}

std::pair<std::string_view, HTTPHeaders> HTTPHeadParser::split(ByteView head, bool isResponse) {
    // The head's bytes as they are: names and values are relayed byte for byte, whatever their
    // encoding. A NUL, or a CR that does not start a CR LF, would be read one way here and another
    // way by the next hop, so either refuses the head.
    const std::string_view text = asText(head);
    if (!text.empty() && std::memchr(text.data(), '\0', text.size()) != nullptr) {
        throw ProxyError::malformedHead();
    }

    // One pass over the lines, each cut at its LF without the CR of a CR LF. Blank lines may only
    // end the head.
    std::optional<std::string_view> startLine;
    std::vector<HTTPHeaderField> fields;
    fields.reserve(16);
    bool blankSeen = false;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto lf = text.find('\n', at);
        const std::size_t lineEnd = lf == std::string_view::npos ? text.size() : lf;
        std::string_view line = text.substr(at, lineEnd - at);
        at = lf == std::string_view::npos ? text.size() : lf + 1;
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.find('\r') != std::string_view::npos) {
            throw ProxyError::malformedHead();
        }
        if (line.empty()) {
            blankSeen = true;
            continue;
        }
        if (blankSeen) {
            throw ProxyError::malformedHead();
        }
        if (!startLine) {
            startLine = line;
            continue;
        }
        if (line.front() == ' ' || line.front() == '\t') {
            // Obsolete line folding continues the previous field's value.
            if (fields.empty()) {
                throw ProxyError::malformedHead();
            }
            std::string value(fields.back().value());
            value += ' ';
            value += text::trimmed(line);
            // The name stays, and with it what the name means.
            fields.back() = HTTPHeaderField(fields.back().name(), value, fields.back().known());
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            throw ProxyError::malformedHead();
        }
        std::string_view name = line.substr(0, colon);
        if (isResponse) {
            // Whitespace between a response's field name and its colon is removed before the
            // field goes on; in a request it refuses the head.
            while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) {
                name.remove_suffix(1);
            }
        }
        const auto check = checkName(name);
        if (!check.valid) {
            throw ProxyError::malformedHead();
        }
        fields.emplace_back(name, text::trimmed(line.substr(colon + 1)),
                            check.ascii ? KnownHeaderName::ofASCII(name)
                                        : KnownHeaderName::of(name));
    }
    if (!startLine) {
        throw ProxyError::malformedHead();
    }
    return {*startLine, HTTPHeaders(std::move(fields))};
}

HTTPRequestHead HTTPHeadParser::parseRequest(ByteView head) {
    auto [startLine, headers] = split(head, false);
    std::string_view pieces[3];
    std::size_t found = 0;
    std::string_view rest = startLine;
    while (found < 3 && !rest.empty()) {
        const auto space = rest.find(' ');
        if (space != 0) {
            pieces[found++] = rest.substr(0, space);
        }
        if (space == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(space + 1);
    }
    if (found < 3) {
        throw ProxyError::malformedHead();
    }
    return HTTPRequestHead(std::string(pieces[0]), std::string(pieces[1]), std::string(pieces[2]),
                           std::move(headers));
}

HTTPResponseHead HTTPHeadParser::parseResponse(ByteView head) {
    auto [startLine, headers] = split(head, true);
    const std::string_view line = startLine;
    const auto firstSpace = line.find(' ');
    if (firstSpace == std::string_view::npos) {
        throw ProxyError::malformedHead();
    }
    const std::string_view version = line.substr(0, firstSpace);
    std::string_view afterVersion = line.substr(firstSpace + 1);
    const auto secondSpace = afterVersion.find(' ');
    const std::string_view code = afterVersion.substr(0, secondSpace);
    const std::string_view reason = secondSpace == std::string_view::npos
                                        ? std::string_view{}
                                        : afterVersion.substr(secondSpace + 1);
    const auto status = statusCode(code);
    if (!status) {
        throw ProxyError::malformedHead();
    }
    return HTTPResponseHead(std::string(version), *status, std::string(reason), std::move(headers));
}

} // namespace meterly::proxy
