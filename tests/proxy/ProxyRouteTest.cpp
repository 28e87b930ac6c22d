#include "proxy/ProxyRoute.hpp"

#include <gtest/gtest.h>

using namespace meterly::proxy;

TEST(ProxyRouteTest, RoutesByMethodAndExactPath) {
    struct Case {
        const char* method;
        const char* target;
        ProxyRoute route;
    };
    const Case cases[] = {
        {"HEAD", "/api/hello", ProxyRoute::healthCheck},
        {"head", "/api/hello?probe=1", ProxyRoute::healthCheck},
        {"HeAd", "/api/hello#x", ProxyRoute::healthCheck},
        {"GET", "/api/hello", ProxyRoute::forward},
        {"HEAD", "/api/hello/", ProxyRoute::forward},
        {"HEAD", "/API/hello", ProxyRoute::forward},
        {"GET", "/__meterly/status", ProxyRoute::status},
        {"get", "/__meterly/status?x=1", ProxyRoute::status},
        {"POST", "/__meterly/status", ProxyRoute::forward},
        {"HEAD", "/__meterly/status", ProxyRoute::forward},
        {"GET", "/__meterly/status/", ProxyRoute::forward},
        {"POST", "/v1/messages", ProxyRoute::forward},
        {"GET", "", ProxyRoute::forward},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(route(c.method, c.target), c.route) << c.method << ' ' << c.target;
    }
    HTTPRequestHead withHeaders("HEAD", "/api/hello", "HTTP/1.0", {{"Host", "elsewhere"}});
    EXPECT_EQ(route(withHeaders), ProxyRoute::healthCheck) << "headers and version play no part";
}
