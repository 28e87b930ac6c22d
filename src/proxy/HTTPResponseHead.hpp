#pragma once

#include "proxy/Bytes.hpp"
#include "proxy/HTTPHeaders.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace meterly::proxy {

// The status line and header fields of one response. The status line is fixed once built; the
// headers may be replaced or changed in place.
class HTTPResponseHead {
public:
    HTTPResponseHead(std::string version, std::int64_t statusCode, std::string reasonPhrase,
                     HTTPHeaders headers)
        : version_(std::move(version)), statusCode_(statusCode),
          reasonPhrase_(std::move(reasonPhrase)), headers_(std::move(headers)) {}

    const std::string& version() const { return version_; }
    std::int64_t statusCode() const { return statusCode_; }
    const std::string& reasonPhrase() const { return reasonPhrase_; }
    const HTTPHeaders& headers() const { return headers_; }
    HTTPHeaders& headers() { return headers_; }
    void setHeaders(HTTPHeaders headers) { headers_ = std::move(headers); }

    // "VERSION CODE REASON\r\n" (no space after the code when the reason phrase is empty), the
    // header fields, then "\r\n", as UTF-8.
    Bytes serialized() const;
    // The status line alone, in the same form, at the end of `out`.
    static void appendStatusLine(Bytes& out, std::string_view version, std::int64_t statusCode,
                                 std::string_view reasonPhrase);

    friend bool operator==(const HTTPResponseHead&, const HTTPResponseHead&) = default;

private:
    std::string version_;
    std::int64_t statusCode_;
    std::string reasonPhrase_;
    HTTPHeaders headers_;
};

} // namespace meterly::proxy
