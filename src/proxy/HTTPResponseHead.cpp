#include "proxy/HTTPResponseHead.hpp"

#include <string_view>

namespace meterly::proxy {

Bytes HTTPResponseHead::serialized() const {
    const std::string code = std::to_string(statusCode_);
    Bytes out;
    out.reserve(version_.size() + code.size() + reasonPhrase_.size() + headers_.serializedSize() +
                6);
    const auto append = [&out](std::string_view text) {
        out.insert(out.end(), text.begin(), text.end());
    };
    append(version_);
    append(" ");
    append(code);
    if (!reasonPhrase_.empty()) {
        append(" ");
        append(reasonPhrase_);
    }
    append("\r\n");
    headers_.appendSerialized(out);
    append("\r\n");
    return out;
}

} // namespace meterly::proxy
