#include "proxy/HTTPResponseHead.hpp"

namespace meterly::proxy {

Bytes HTTPResponseHead::serialized() const {
    std::string text = version_ + ' ' + std::to_string(statusCode_);
    if (!reasonPhrase_.empty()) {
        text += ' ';
        text += reasonPhrase_;
    }
    text += "\r\n";
    text += headers_.serialized();
    text += "\r\n";
    return Bytes(text.begin(), text.end());
}

} // namespace meterly::proxy
