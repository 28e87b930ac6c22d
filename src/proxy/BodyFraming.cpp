#include "proxy/BodyFraming.hpp"

#include "proxy/HeaderText.hpp"
#include "proxy/ProxyError.hpp"

#include <algorithm>
#include <charconv>
#include <optional>
#include <ostream>
#include <string>

namespace meterly::proxy {

namespace {

bool equalsIgnoringASCIICase(std::string_view text, std::string_view lower) {
    return std::equal(text.begin(), text.end(), lower.begin(), lower.end(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

// Whether the last transfer coding of all Transfer-Encoding fields together is exactly
// "chunked"; nullopt when the message has no such field.
std::optional<bool> endsInChunked(const HTTPHeaders& headers) {
    std::optional<std::string_view> lastField;
    for (const auto& field : headers.fields()) {
        if (field.known().kind() == KnownHeaderName::Kind::transferEncoding) {
            lastField = field.value();
        }
    }
    if (!lastField) {
        return std::nullopt;
    }
    std::string_view last = *lastField;
    if (const auto comma = last.rfind(','); comma != std::string_view::npos) {
        last.remove_prefix(comma + 1);
    }
    return equalsIgnoringASCIICase(text::trimmed(last), "chunked");
}

// The length that every Content-Length field gives as one plain decimal number.
struct DeclaredLength {
    bool present = false;
    // nullopt when a value is no such number, does not fit, or the fields disagree.
    std::optional<std::int64_t> value;
};

DeclaredLength declaredLength(const HTTPHeaders& headers) {
    DeclaredLength result;
    for (const auto& field : headers.fields()) {
        if (field.known().kind() != KnownHeaderName::Kind::contentLength) {
            continue;
        }
        result.present = true;
        const std::string_view digits = text::trimmed(field.value());
        std::int64_t length = 0;
        const auto* end = digits.data() + digits.size();
        const auto [stop, error] = std::from_chars(digits.data(), end, length);
        if (digits.empty() || digits.front() < '0' || digits.front() > '9' ||
            error != std::errc{} || stop != end || (result.value && *result.value != length)) {
            result.value.reset();
            return result;
        }
        result.value = length;
    }
    return result;
}

bool sameMethod(std::string_view a, std::string_view b) {
    return text::namesMatch(a, b);
}

} // namespace

BodyFraming BodyFraming::forRequest(const HTTPRequestHead& head) {
    if (const auto chunkedLast = endsInChunked(head.headers())) {
        if (!*chunkedLast) {
            throw ProxyError::invalidFraming();
        }
        return chunked();
    }
    const auto length = declaredLength(head.headers());
    if (!length.present) {
        return none();
    }
    if (!length.value) {
        throw ProxyError::invalidFraming();
    }
    return *length.value == 0 ? none() : contentLength(*length.value);
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
    if (const auto chunkedLast = endsInChunked(head.headers())) {
        // Other codings last leave no way to find the end but the close.
        return *chunkedLast ? chunked() : untilClose();
    }
    const auto length = declaredLength(head.headers());
    if (!length.value) {
        return untilClose();
    }
    return *length.value == 0 ? none() : contentLength(*length.value);
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
