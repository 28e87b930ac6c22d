#pragma once

#include "proxy/Bytes.hpp"
#include "proxy/HTTPHeaders.hpp"
#include "proxy/HTTPRequestHead.hpp"
#include "proxy/HTTPResponseHead.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace meterly::proxy {

// Finds the end of a message head in received bytes and turns a head into its parts. Every
// rejection is ProxyError::malformedHead(). Holds no state.
class HTTPHeadParser {
public:
    HTTPHeadParser() = delete;

    // The offset just past the first LF LF or CR LF CR LF at or after `from` (a negative start
    // counts as 0); nullopt while the bytes hold no complete head.
    static std::optional<std::size_t> endOfHead(ByteView bytes, std::ptrdiff_t from = 0);

    // The head's bytes may or may not include the blank line that ends it.
    static HTTPRequestHead parseRequest(ByteView head);
    static HTTPResponseHead parseResponse(ByteView head);

private:
    static std::pair<std::string, HTTPHeaders> split(ByteView head);
};

} // namespace meterly::proxy
