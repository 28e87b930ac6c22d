#pragma once

#include "proxy/BodyFraming.hpp"
#include "proxy/HTTPHeaders.hpp"

#include <set>
#include <string>
#include <string_view>

namespace meterly::proxy {

// How header fields are rewritten when a message is relayed: hop-by-hop fields are dropped in
// both directions, the framing field is written afresh, Host names the upstream host on the way
// up, and a closing connection is announced on the way down. Everything else passes untouched.
class HeaderPolicy {
public:
    HeaderPolicy() = delete;

    // "connection", "transfer-encoding", "keep-alive", "upgrade".
    static const std::set<std::string, std::less<>>& hopByHopNames();

    // True for the names above and every name beginning with "proxy-", in any letter case.
    static bool isHopByHop(std::string_view name);

    static HTTPHeaders stripHopByHop(const HTTPHeaders& headers);

    // The client's request fields as sent upstream: hop-by-hop fields out, then Host, then the
    // framing field.
    static HTTPHeaders upstreamHeaders(const HTTPHeaders& headers, const std::string& upstreamHost,
                                       const BodyFraming& framing);

    // The upstream response fields as sent to the client: hop-by-hop fields out, the framing
    // field, then "Connection: close" when the connection ends after this response.
    static HTTPHeaders downstreamHeaders(const HTTPHeaders& headers, const BodyFraming& framing,
                                         bool closeAfterResponse);

    // The same fields as "Name: value\r\n" lines at the end of `out`, written there directly.
    static void appendUpstreamHeaders(Bytes& out, const HTTPHeaders& headers,
                                      const std::string& upstreamHost, const BodyFraming& framing);
    static void appendDownstreamHeaders(Bytes& out, const HTTPHeaders& headers,
                                        const BodyFraming& framing, bool closeAfterResponse);
};

} // namespace meterly::proxy
