#include "proxy/HTTPRequestHead.hpp"

namespace meterly::proxy {

std::string_view HTTPRequestHead::path() const {
    std::string_view target = target_;
    return target.substr(0, target.find_first_of("?#"));
}

Bytes HTTPRequestHead::serialized() const {
    std::string text =
        method_ + ' ' + target_ + ' ' + version_ + "\r\n" + headers_.serialized() + "\r\n";
    return Bytes(text.begin(), text.end());
}

} // namespace meterly::proxy
