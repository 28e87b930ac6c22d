#pragma once

#include "core/Time.hpp"
#include "core/UsageSnapshot.hpp"
#include "proxy/Bytes.hpp"
#include "proxy/HTTPResponseHead.hpp"
#include "proxy/ProxyError.hpp"
#include "proxy/UpstreamAPI.hpp"

#include <cstdint>
#include <optional>
#include <string_view>

namespace meterly::proxy {

// A reply the proxy makes up itself: the head and the whole body.
struct CannedResponse {
    HTTPResponseHead head;
    Bytes body;
};

// Every reply that the proxy writes on its own. None of them fails.
class ProxyResponses {
public:
    // 200 with no body.
    static HTTPResponseHead healthCheck();

    // 200 with the status document of the given values.
    static CannedResponse status(const std::optional<core::UsageSnapshot>& snapshot,
                                 std::int64_t requestsSeen,
                                 std::optional<core::Date> lastRequestAt);

    // The one 400 reply, whatever made the request unusable.
    static CannedResponse badRequest(ProxyFailure failure);

    // 504 when forwarding timed out, else 502, naming the upstream host and the failure.
    static CannedResponse gatewayError(ProxyFailure failure,
                                       std::string_view upstreamHost = upstreamAPIHost);

    // The status document alone, as the status reply carries it.
    static std::string statusDocument(const std::optional<core::UsageSnapshot>& snapshot,
                                      std::int64_t requestsSeen,
                                      std::optional<core::Date> lastRequestAt);

    ProxyResponses() = delete;
};

} // namespace meterly::proxy
