#pragma once

#include "proxy/HTTPRequestHead.hpp"
#include "proxy/HTTPResponseHead.hpp"

#include <cstdint>
#include <iosfwd>
#include <string_view>

namespace meterly::proxy {

// How the body that follows a head is delimited.
class BodyFraming {
public:
    enum class Kind : std::uint8_t {
        contentLength, // exactly length() bytes
        none,          // no body
        chunked,       // chunked transfer coding, up to the last chunk and its trailer
        untilClose,    // until the sender closes the connection (responses only)
    };

    static BodyFraming contentLength(std::int64_t length) {
        return BodyFraming(Kind::contentLength, length);
    }
    static BodyFraming none() { return BodyFraming(Kind::none); }
    static BodyFraming chunked() { return BodyFraming(Kind::chunked); }
    static BodyFraming untilClose() { return BodyFraming(Kind::untilClose); }

    // Throws ProxyError::invalidFraming() when the request's body has no end that every reader
    // would agree on: a Transfer-Encoding whose last coding is not "chunked", or Content-Length
    // fields that are not all the same plain decimal number.
    static BodyFraming forRequest(const HTTPRequestHead& head);
    // A response framed in such a way runs until the upstream closes.
    static BodyFraming forResponse(const HTTPResponseHead& head, std::string_view requestMethod);

    Kind kind() const { return kind_; }
    // The byte count of a contentLength framing; 0 for the others.
    std::int64_t length() const { return length_; }

    friend bool operator==(const BodyFraming&, const BodyFraming&) = default;

private:
    explicit BodyFraming(Kind kind, std::int64_t length = 0) : kind_(kind), length_(length) {}

    Kind kind_;
    std::int64_t length_;
};

std::ostream& operator<<(std::ostream& out, const BodyFraming& framing);

} // namespace meterly::proxy
