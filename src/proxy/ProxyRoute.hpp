#pragma once

#include "proxy/HTTPRequestHead.hpp"

#include <string_view>

namespace meterly::proxy {

// What the proxy does with a request: answer it itself or forward it upstream.
enum class ProxyRoute {
    healthCheck,
    status,
    forward,
};

inline constexpr std::string_view healthCheckPath = "/api/hello";
inline constexpr std::string_view statusPath = "/__meterly/status";

// HEAD of the health-check path is the health check, GET of the status path the status; every
// other request is forwarded. The method is matched in any letter case, the path exactly and
// without its query or fragment.
ProxyRoute route(const HTTPRequestHead& head);
ProxyRoute route(std::string_view method, std::string_view target);

} // namespace meterly::proxy
