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

    // The head's bytes may or may not include the blank line that ends it. Names, values and the
    // start line keep their bytes as received. A head holding a NUL or a bare CR, or a field name
    // with whitespace or a control character in it, is refused; so is a status code that is not
    // three digits from 100 to 999.
    static HTTPRequestHead parseRequest(ByteView head);
    static HTTPResponseHead parseResponse(ByteView head);

private:
    static std::pair<std::string_view, HTTPHeaders> split(ByteView head, bool isResponse);
};

} // namespace meterly::proxy
