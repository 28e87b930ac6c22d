// The proxy server alone, pointed at an upstream of the caller's choosing, for load tools that
// run outside this process (the nginx comparison). Usage:
//     proxy_serve_bench <upstream-host> <upstream-port> [threads]
// The upstream is reached over TLS and checked against the system's trust store (set
// SSL_CERT_FILE for a test certificate). Log lines go where the proxy role sends them. Prints the
// bound port on a line of its own, then serves until its standard input ends.

#include "proxy/ProxyConfiguration.hpp"
#include "proxy/ProxyServer.hpp"
#include "proxy/ProxyUsageSource.hpp"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <signal.h>
#include <unistd.h>

using namespace meterly;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <upstream-host> <upstream-port> [threads]\n", argv[0]);
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);
    const auto upstreamPort = static_cast<std::uint16_t>(std::strtoul(argv[2], nullptr, 10));
    auto configuration = proxy::ProxyConfiguration::withSystemLimits(0, argv[1], upstreamPort);
    auto usage = std::make_shared<proxy::ProxyUsageSource>();
    std::unique_ptr<proxy::ProxyServer> server;
    if (argc > 3) {
        server = std::make_unique<proxy::ProxyServer>(configuration, usage,
                                                      std::strtoul(argv[3], nullptr, 10));
    } else {
        server = std::make_unique<proxy::ProxyServer>(configuration, usage);
    }
    const auto port = server->start();
    std::printf("%u\n", static_cast<unsigned>(port));
    std::fflush(stdout);
    char ignored[64];
    while (::read(STDIN_FILENO, ignored, sizeof ignored) > 0) {
    }
    server->stop();
    return 0;
}
