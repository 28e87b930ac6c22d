#include "proxy/ProxyRoute.hpp"

#include <string>

namespace meterly::proxy {

namespace {

// Upper-cases ASCII letters only; no other character upper-cases to a letter of "HEAD" or "GET".
std::string upperCased(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

} // namespace

ProxyRoute route(const HTTPRequestHead& head) {
    std::string method = upperCased(head.method());
    std::string_view path = head.path();
    if (method == "HEAD" && path == healthCheckPath) {
        return ProxyRoute::healthCheck;
    }
    if (method == "GET" && path == statusPath) {
        return ProxyRoute::status;
    }
    return ProxyRoute::forward;
}

ProxyRoute route(std::string_view method, std::string_view target) {
    return route(HTTPRequestHead(std::string(method), std::string(target), "HTTP/1.1", {}));
}

} // namespace meterly::proxy
