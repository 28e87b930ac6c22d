#pragma once

#include "core/Time.hpp"
#include "proxy/BodyFraming.hpp"
#include "proxy/CapturedOutcome.hpp"
#include "proxy/HTTPRequestHead.hpp"
#include "proxy/HTTPResponseHead.hpp"
#include "proxy/HTTPStreamReader.hpp"
#include "proxy/NetworkStream.hpp"
#include "proxy/ProxyConfiguration.hpp"
#include "proxy/ProxyError.hpp"

#include <asio/awaitable.hpp>
#include <asio/ssl/context.hpp>
#include <memory>

namespace meterly::proxy {

class ProxyUsageSource;

// Serves one accepted client connection from its first byte to its close: reads request heads,
// answers the health check and the status endpoint itself, and forwards everything else over
// one upstream connection that it opens on demand and keeps for the following requests. Used by
// the one coroutine that runs it, on the event loop of the client stream.
class ClientSession {
public:
    ClientSession(std::shared_ptr<NetworkStream> client, ProxyConfiguration configuration,
                  std::shared_ptr<ProxyUsageSource> usageSource,
                  std::shared_ptr<asio::ssl::context> tlsContext,
                  core::Clock clock = core::systemNow);
    ~ClientSession();
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    // Returns when the client connection has been closed; never throws.
    static asio::awaitable<void> run(std::shared_ptr<ClientSession> session);

    static bool clientWantsKeepAlive(const HTTPRequestHead& request);
    static bool upstreamWantsKeepAlive(const HTTPResponseHead& response);

private:
    struct ForwardOutcome {
        // False: the exchange ended early and the client connection must be closed.
        bool relayed;
        // The upstream connection stays open for the next request.
        bool keepAlive;
    };

    struct ClientRequest {
        HTTPRequestHead head;
        // How the request's body ends; a body whose end is in doubt is refused before it is read.
        BodyFraming framing;
    };

    asio::awaitable<void> serve();
    asio::awaitable<ClientRequest> readRequest(HTTPStreamReader& clientReader);
    // The next response head from upstream; `interimCount` counts the 1xx heads seen so far.
    asio::awaitable<HTTPResponseHead> readResponseHead(int& interimCount);
    asio::awaitable<void> write(const HTTPResponseHead& head, ByteView body);
    asio::awaitable<ForwardOutcome> forward(const HTTPRequestHead& request,
                                            const BodyFraming& requestFraming,
                                            HTTPStreamReader& clientReader);
    asio::awaitable<void> replyGatewayError(ProxyFailure failure);
    asio::awaitable<void> sendHeadUpstream(ByteView head);
    asio::awaitable<void> connectUpstream();
    void dropUpstream();
    // The client closed or reset its connection while the session waited on the upstream.
    void clientWentAway();

    std::shared_ptr<NetworkStream> client_;
    ProxyConfiguration configuration_;
    std::shared_ptr<ProxyUsageSource> usageSource_;
    std::shared_ptr<asio::ssl::context> tlsContext_;
    core::Clock clock_;
    std::shared_ptr<NetworkStream> upstream_;
    std::unique_ptr<HTTPStreamReader> upstreamReader_;
    bool clientGone_ = false;
};

} // namespace meterly::proxy
