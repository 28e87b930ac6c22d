#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace meterly::proxy {

// Spans of time inside the proxy (receive limits, head deadlines) on the monotonic clock.
using ProxyDuration = std::chrono::steady_clock::duration;

// The settings the proxy runs with. The proxy role builds the only instance; the server keeps it
// and every client session holds a copy.
struct ProxyConfiguration {
    // Port the listener binds on 127.0.0.1 (0 lets the system choose).
    std::uint16_t port;
    // Host connected to, TLS server name, Host of every forwarded request.
    std::string upstreamHost;
    std::uint16_t upstreamPort;
    // Longest wait for any single receive, on the client and the upstream connection alike.
    ProxyDuration upstreamTimeout;
    // Time within which a client must deliver a complete request head.
    ProxyDuration clientHeadCompletionTimeout;
    // Largest request head and largest response head accepted, in bytes.
    std::size_t maximumHeadSize;
    // The most bytes moved in one step when a body is relayed.
    std::size_t receiveChunkSize;
    // Cap on live client connections.
    std::size_t maximumConcurrentConnections;
    bool upstreamUsesTLS;

    bool operator==(const ProxyConfiguration&) const = default;

    // The proxy's own limits (660 s per receive, 30 s for a request head, heads of 64 KiB,
    // receives of 32 KiB, 128 connections) with a TLS upstream at the given host and port.
    static ProxyConfiguration withSystemLimits(std::uint16_t port, std::string upstreamHost,
                                               std::uint16_t upstreamPort) {
        using std::chrono::seconds;
        return ProxyConfiguration{
            .port = port,
            .upstreamHost = std::move(upstreamHost),
            .upstreamPort = upstreamPort,
            .upstreamTimeout = seconds(660),
            .clientHeadCompletionTimeout = seconds(30),
            .maximumHeadSize = 65536,
            .receiveChunkSize = 32768,
            .maximumConcurrentConnections = 128,
            .upstreamUsesTLS = true,
        };
    }
};

} // namespace meterly::proxy
