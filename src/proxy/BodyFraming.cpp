#include "proxy/BodyFraming.hpp"

#include "proxy/HeaderText.hpp"

#include <ostream>
#include <string>

namespace meterly::proxy {

namespace {

bool isChunked(const HTTPHeaders& headers) {
    const auto coding = headers["Transfer-Encoding"];
    return coding && text::lowercased(*coding).find("chunked") != std::string::npos;
}

bool sameMethod(std::string_view a, std::string_view b) {
    return text::lowercased(a) == text::lowercased(b);
}

} // namespace

BodyFraming BodyFraming::forRequest(const HTTPRequestHead& head) {
    if (isChunked(head.headers())) {
        return chunked();
    }
    if (const auto value = head.headers()["Content-Length"]) {
        const auto length = text::parseInteger(text::trimmed(*value));
        if (!length || *length < 1) {
            return none();
        }
        return contentLength(*length);
    }
    return none();
}

BodyFraming BodyFraming::forResponse(const HTTPResponseHead& head, std::string_view requestMethod) {
    const std::int64_t status = head.statusCode();
    if (sameMethod(requestMethod, "HEAD")) {
        return none();
    }
    if ((status >= 100 && status <= 199) || status == 204 || status == 304) {
        return none();
    }
    if (sameMethod(requestMethod, "CONNECT") && status >= 200 && status <= 299) {
        return none();
    }
    if (isChunked(head.headers())) {
        return chunked();
    }
    if (const auto value = head.headers()["Content-Length"]) {
        const auto length = text::parseInteger(text::trimmed(*value));
        if (!length) {
            return untilClose();
        }
        if (*length < 1) {
            return none();
        }
        return contentLength(*length);
    }
    return untilClose();
}

std::ostream& operator<<(std::ostream& out, const BodyFraming& framing) {
    switch (framing.kind()) {
    case BodyFraming::Kind::contentLength:
        return out << "contentLength(" << framing.length() << ")";
    case BodyFraming::Kind::none:
        return out << "none";
    case BodyFraming::Kind::chunked:
        return out << "chunked";
    case BodyFraming::Kind::untilClose:
        return out << "untilClose";
    }
    return out;
}

} // namespace meterly::proxy
