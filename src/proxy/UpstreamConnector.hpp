#pragma once

#include "proxy/ProxyConfiguration.hpp"

#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>
#include <system_error>
#include <vector>

namespace meterly::proxy {

// TCP connection attempts to the addresses of one host, made the way RFC 8305 ("Happy Eyeballs")
// describes, so that an address that never answers (a broken IPv6 route) costs a short delay
// instead of the whole connect limit.
class UpstreamConnector {
public:
    // The order in which the addresses are tried: IPv6 and IPv4 alternate, IPv6 first, each
    // family in the order the resolver gave.
    static std::vector<asio::ip::tcp::endpoint>
    attemptOrder(const std::vector<asio::ip::tcp::endpoint>& addresses);

    // Connects `socket` (not open) to the first of `addresses` that answers, tried in
    // attemptOrder(). One attempt starts at once; the next starts when `attemptDelay` has passed
    // since the last one started, or at once when an attempt fails, while the earlier ones go on.
    // The first attempt to connect wins and every other one is closed. Returns the last attempt's
    // error when all of them failed, host_not_found for no address, and operation_aborted when the
    // awaiting coroutine is cancelled (every attempt is closed then). Has no time limit of its
    // own: the caller races it against one. The coroutine's executor must run one handler at a
    // time (an event loop of one thread or a strand).
    static asio::awaitable<std::error_code> connect(asio::ip::tcp::socket& socket,
                                                    std::vector<asio::ip::tcp::endpoint> addresses,
                                                    ProxyDuration attemptDelay);
};

} // namespace meterly::proxy
