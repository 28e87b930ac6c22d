#include "proxy/HTTPResponseHead.hpp"

#include <charconv>
#include <iterator>
#include <string_view>

namespace meterly::proxy {

void HTTPResponseHead::appendStatusLine(Bytes& out, std::string_view version,
                                        std::int64_t statusCode, std::string_view reasonPhrase) {
    char code[24];
    const auto [codeEnd, error] = std::to_chars(std::begin(code), std::end(code), statusCode);
    (void)error;
    const auto append = [&out](std::string_view text) {
        out.insert(out.end(), text.begin(), text.end());
    };
    append(version);
    append(" ");
    append(std::string_view(code, static_cast<std::size_t>(codeEnd - code)));
    if (!reasonPhrase.empty()) {
        append(" ");
        append(reasonPhrase);
    }
    append("\r\n");
}

Bytes HTTPResponseHead::serialized() const {
    Bytes out;
    out.reserve(version_.size() + reasonPhrase_.size() + headers_.serializedSize() + 32);
    appendStatusLine(out, version_, statusCode_, reasonPhrase_);
    headers_.appendSerialized(out);
    out.push_back('\r');
    out.push_back('\n');
    return out;
}

} // namespace meterly::proxy
