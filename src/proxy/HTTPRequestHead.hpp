#pragma once

#include "proxy/Bytes.hpp"
#include "proxy/HTTPHeaders.hpp"

#include <string>
#include <string_view>
#include <utility>

namespace meterly::proxy {

// The request line and header fields of one request. The request line is fixed once built; the
// headers may be replaced or changed in place.
class HTTPRequestHead {
public:
    HTTPRequestHead(std::string method, std::string target, std::string version,
                    HTTPHeaders headers)
        : method_(std::move(method)), target_(std::move(target)), version_(std::move(version)),
          headers_(std::move(headers)) {}

    const std::string& method() const { return method_; }
    const std::string& target() const { return target_; }
    const std::string& version() const { return version_; }
    const HTTPHeaders& headers() const { return headers_; }
    HTTPHeaders& headers() { return headers_; }
    void setHeaders(HTTPHeaders headers) { headers_ = std::move(headers); }

    // The target up to, not including, the first "?" or "#".
    std::string_view path() const;

    // "METHOD TARGET VERSION\r\n", the header fields, then "\r\n", as UTF-8.
    Bytes serialized() const;

    friend bool operator==(const HTTPRequestHead&, const HTTPRequestHead&) = default;

private:
    std::string method_;
    std::string target_;
    std::string version_;
    HTTPHeaders headers_;
};

} // namespace meterly::proxy
