#include "proxy/HTTPHeadParser.hpp"

#include "proxy/HeaderText.hpp"
#include "proxy/ProxyError.hpp"

#include <algorithm>
#include <string_view>
#include <vector>

namespace meterly::proxy {

namespace {

constexpr std::uint8_t CR = '\r';
constexpr std::uint8_t LF = '\n';

// The head's bytes as they are: names and values are relayed byte for byte, whatever their
// encoding. A NUL, or a CR that does not start a CR LF, would be read one way here and another
// way by the next hop, so either refuses the head.
std::string_view checkedText(ByteView head) {
    const std::string_view text = asText(head);
    if (text.find('\0') != std::string_view::npos) {
        throw ProxyError::malformedHead();
    }
    for (auto cr = text.find('\r'); cr != std::string_view::npos; cr = text.find('\r', cr + 1)) {
        if (cr + 1 == text.size() || text[cr + 1] != '\n') {
            throw ProxyError::malformedHead();
        }
    }
    return text;
}

// Field names hold no whitespace and no control characters: a name such as
// "Content-Length " would otherwise name a framing field to one reader and not to another.
bool isValidName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte != 0x7F;
    });
}

// Exactly three digits, 100 to 999.
std::optional<std::int64_t> statusCode(std::string_view code) {
    if (code.size() != 3 || code[0] < '1' || code[0] > '9' ||
        !std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
}

// The lines of a checked head: cut at every LF, without the CR of a CR LF (the only place a CR
// can be), empty lines kept. Views into the head itself.
std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> result;
    result.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    while (true) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        result.push_back(line);
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return result;
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

std::pair<std::string, HTTPHeaders> HTTPHeadParser::split(ByteView head, bool isResponse) {
    std::vector<std::string_view> all = lines(checkedText(head));
    while (!all.empty() && all.back().empty()) {
        all.pop_back();
    }
    if (all.empty() || all.front().empty()) {
        throw ProxyError::malformedHead();
    }

    std::vector<HTTPHeaderField> fields;
    fields.reserve(all.size() - 1);
    for (std::size_t i = 1; i < all.size(); ++i) {
        const std::string_view line = all[i];
        if (line.empty()) {
            throw ProxyError::malformedHead();
        }
        if (line.front() == ' ' || line.front() == '\t') {
            // Obsolete line folding continues the previous field's value.
            if (fields.empty()) {
                throw ProxyError::malformedHead();
            }
            std::string value = fields.back().value();
            value += ' ';
            value += text::trimmed(line);
            fields.back() = HTTPHeaderField(fields.back().name(), std::move(value));
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
        if (!isValidName(name)) {
            throw ProxyError::malformedHead();
        }
        fields.emplace_back(std::string(name), std::string(text::trimmed(line.substr(colon + 1))));
    }
    return {std::string(all.front()), HTTPHeaders(std::move(fields))};
}

HTTPRequestHead HTTPHeadParser::parseRequest(ByteView head) {
    auto [startLine, headers] = split(head, false);
    std::vector<std::string> pieces;
    std::string_view rest = startLine;
    while (pieces.size() < 3 && !rest.empty()) {
        const auto space = rest.find(' ');
        if (space != 0) {
            pieces.emplace_back(rest.substr(0, space));
        }
        if (space == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(space + 1);
    }
    if (pieces.size() < 3) {
        throw ProxyError::malformedHead();
    }
    return HTTPRequestHead(std::move(pieces[0]), std::move(pieces[1]), std::move(pieces[2]),
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
