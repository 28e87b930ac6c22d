#pragma once

#include "proxy/ProxyConfiguration.hpp"
#include "proxy/SessionRegistry.hpp"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace meterly::proxy {

class ProxyUsageSource;

// The proxy's listener on 127.0.0.1. It admits client connections up to the configured cap and
// serves each with a ClientSession. The server owns a small pool of threads, each running an event
// loop of its own: a connection is handed to one loop when it is accepted (a few connections share
// a loop before the next takes any; see LoopPlacement), and its session, both of its streams and
// their timers stay on that loop's one thread for their whole life, so that a session never waits
// for a lock or a wake-up of another thread. start() and stop() may be called
// from any thread but a loop thread of the server itself.
class ProxyServer {
public:
    ProxyServer(ProxyConfiguration configuration, std::shared_ptr<ProxyUsageSource> usageSource,
                std::size_t threads = 4);
    // Stops the server and ends every session that is still running.
    ~ProxyServer();
    ProxyServer(const ProxyServer&) = delete;
    ProxyServer& operator=(const ProxyServer&) = delete;

    // Starts listening and returns the bound port (the system's choice for port 0). A second call
    // returns the same port. Throws ProxyError::network(...) when the listener cannot start.
    std::uint16_t start();

    // Stops listening, cancels every live client connection and ends the usage source's streams.
    // Never throws.
    void stop();

    // The bound port while running.
    std::optional<std::uint16_t> port() const;
    bool isRunning() const;

    // The live client connections (admitted and not yet finished).
    std::size_t liveSessionCount() const { return registry_->count(); }

private:
    struct Listener;
    struct Loop;

    const ProxyConfiguration configuration_;
    const std::shared_ptr<ProxyUsageSource> usageSource_;
    const std::shared_ptr<SessionRegistry> registry_ = std::make_shared<SessionRegistry>();
    // The event loops, one per thread; the first also runs the accept loop.
    std::vector<std::unique_ptr<Loop>> loops_;

    mutable std::mutex lock_;
    std::shared_ptr<Listener> listener_;
    std::optional<std::uint16_t> boundPort_;
};

} // namespace meterly::proxy
