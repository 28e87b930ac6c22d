#include "proxy/ClientSession.hpp"

#include "proxy/BodyFraming.hpp"
#include "proxy/BodyRelay.hpp"
#include "proxy/HTTPHeadParser.hpp"
#include "proxy/HeaderPolicy.hpp"
#include "proxy/HeaderText.hpp"
#include "proxy/ProxyError.hpp"
#include "proxy/ProxyLog.hpp"
#include "proxy/ProxyResponses.hpp"
#include "proxy/ProxyRoute.hpp"
#include "proxy/ProxyUsageSource.hpp"

#include <asio/this_coro.hpp>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace meterly::proxy {

namespace {

bool wantsKeepAlive(const HTTPHeaders& headers, const std::string& version) {
    // The first Connection field decides, read in place.
    std::string_view connection;
    for (const auto& field : headers.fields()) {
        if (field.known().kind() == KnownHeaderName::Kind::connection) {
            connection = field.value();
            break;
        }
    }
    if (text::containsLowerASCII(connection, "close")) {
        return false;
    }
    if (!text::equalsLowerASCII(version, "http/1.0")) {
        return true;
    }
    return text::containsLowerASCII(connection, "keep-alive");
}

bool isGone(ProxyFailure failure) {
    return failure == ProxyFailure::connectionClosed || failure == ProxyFailure::cancelled;
}

bool isInterim(std::int64_t status) {
    return status >= 100 && status <= 199;
}

// Interim responses relayed in one exchange before the upstream is taken to be misbehaving.
constexpr int maximumInterimResponses = 100;

// A response head that leaves together with the first piece of its body, in one write.
class HeadFirstSink final : public ByteSink {
public:
    HeadFirstSink(Bytes head, ByteSink& sink) : head_(std::move(head)), sink_(sink) {}

    asio::awaitable<void> send(ByteView bytes) override {
        if (head_.empty()) {
            co_await sink_.send(bytes);
            co_return;
        }
        Bytes message = std::exchange(head_, {});
        message.insert(message.end(), bytes.begin(), bytes.end());
        co_await sink_.send(message);
    }

    bool holdsHead() const { return !head_.empty(); }

    // Sends the head alone unless it has gone out already.
    asio::awaitable<void> flush() {
        if (!head_.empty()) {
            const Bytes head = std::exchange(head_, {});
            co_await sink_.send(head);
        }
    }

private:
    Bytes head_;
    ByteSink& sink_;
};

// Watches the client for its end while the session waits on the upstream, for as long as it lives.
class ClientWatch {
public:
    ClientWatch(NetworkStream& client, std::function<void()> onEnd) : client_(client) {
        client_.watchPeer(std::move(onEnd));
    }
    ~ClientWatch() { client_.stopWatchingPeer(); }
    ClientWatch(const ClientWatch&) = delete;
    ClientWatch& operator=(const ClientWatch&) = delete;

private:
    NetworkStream& client_;
};

// The head relayed to the client: "HTTP/1.1", the upstream's status and reason, the fields as the
// header policy passes them on. Room is left behind it for the body bytes already at hand, which
// leave with it.
Bytes downstreamHead(const HTTPResponseHead& response, const BodyFraming& framing,
                     bool closeAfterResponse, std::size_t bodyAtHand) {
    Bytes head;
    head.reserve(response.reasonPhrase().size() + response.headers().serializedSize() + 160 +
                 bodyAtHand);
    HTTPResponseHead::appendStatusLine(head, "HTTP/1.1", response.statusCode(),
                                       response.reasonPhrase());
    HeaderPolicy::appendDownstreamHeaders(head, response.headers(), framing, closeAfterResponse);
    head.push_back('\r');
    head.push_back('\n');
    return head;
}

} // namespace

ClientSession::ClientSession(std::shared_ptr<NetworkStream> client,
                             ProxyConfiguration configuration,
                             std::shared_ptr<ProxyUsageSource> usageSource,
                             std::shared_ptr<asio::ssl::context> tlsContext, core::Clock clock)
    : client_(std::move(client)), configuration_(std::move(configuration)),
      usageSource_(std::move(usageSource)), tlsContext_(std::move(tlsContext)),
      clock_(std::move(clock)) {}

ClientSession::~ClientSession() = default;

bool ClientSession::clientWantsKeepAlive(const HTTPRequestHead& request) {
    return wantsKeepAlive(request.headers(), request.version());
}

bool ClientSession::upstreamWantsKeepAlive(const HTTPResponseHead& response) {
    return wantsKeepAlive(response.headers(), response.version());
}

asio::awaitable<void> ClientSession::run(std::shared_ptr<ClientSession> session) {
    ProxyLog::emit(ProxyLogEvent::clientAccepted());
    try {
        co_await session->serve();
    } catch (...) {
        // serve() decides every reply itself; anything that still escapes only ends the session.
        ProxyLog::emit(ProxyLogEvent::clientError(ProxyFailure::from(std::current_exception())));
    }
    session->client_->cancel();
    session->dropUpstream();
    ProxyLog::emit(ProxyLogEvent::clientFinished());
}

asio::awaitable<void> ClientSession::serve() {
    bool started = true;
    try {
        co_await client_->start();
    } catch (const ProxyError&) {
        started = false;
    }
    if (!started) {
        co_return;
    }
    HTTPStreamReader clientReader(client_, configuration_.upstreamTimeout);

    while (true) {
        auto read = co_await captureOutcome(readRequest(clientReader));
        if (const auto failure = read.failure()) {
            if (isGone(*failure)) {
                co_return;
            }
            ProxyLog::emit(ProxyLogEvent::clientError(*failure));
            const auto reply = ProxyResponses::badRequest(*failure);
            try {
                co_await write(reply.head, reply.body);
            } catch (...) {
                // The connection ends either way; a client that cannot take the reply is gone.
            }
            co_return;
        }
        const auto& [request, framing] = *read.value;

        const bool clientKeepsAlive = clientWantsKeepAlive(request);
        bool upstreamKept = true;
        bool replied = true;
        switch (route(request)) {
        case ProxyRoute::healthCheck: {
            ProxyLog::emit(ProxyLogEvent::healthCheckServed());
            try {
                co_await write(ProxyResponses::healthCheck(), {});
            } catch (...) {
                replied = false;
            }
            break;
        }
        case ProxyRoute::status: {
            // The three values under one lock, so that the document never pairs a count with
            // the time of another request.
            const auto state = usageSource_->state();
            const auto reply =
                ProxyResponses::status(state.latest, state.requestsSeen, state.lastRequestAt);
            try {
                co_await write(reply.head, reply.body);
            } catch (...) {
                replied = false;
            }
            break;
        }
        case ProxyRoute::forward: {
            const auto outcome = co_await forward(request, framing, clientReader);
            replied = outcome.relayed;
            upstreamKept = outcome.keepAlive;
            break;
        }
        }
        if (!replied || !clientKeepsAlive || !upstreamKept) {
            co_return;
        }
    }
}

asio::awaitable<ClientSession::ClientRequest>
ClientSession::readRequest(HTTPStreamReader& clientReader) {
    const Bytes head = co_await clientReader.readHead(configuration_.maximumHeadSize,
                                                      configuration_.clientHeadCompletionTimeout);
    auto request = HTTPHeadParser::parseRequest(head);
    auto framing = BodyFraming::forRequest(request);
    co_return ClientRequest{std::move(request), framing};
}

asio::awaitable<HTTPResponseHead> ClientSession::readResponseHead(int& interimCount) {
    const Bytes head =
        co_await upstreamReader_->readHead(configuration_.maximumHeadSize, std::nullopt);
    auto response = HTTPHeadParser::parseResponse(head);
    if (isInterim(response.statusCode()) && ++interimCount > maximumInterimResponses) {
        throw ProxyError::malformedHead();
    }
    co_return response;
}

asio::awaitable<void> ClientSession::write(const HTTPResponseHead& head, ByteView body) {
    // Head and body leave in one write.
    Bytes message = head.serialized();
    message.insert(message.end(), body.begin(), body.end());
    co_await client_->send(message);
}

asio::awaitable<void> ClientSession::replyGatewayError(ProxyFailure failure) {
    ProxyLog::emit(ProxyLogEvent::upstreamFailed(failure));
    const auto reply = ProxyResponses::gatewayError(failure, configuration_.upstreamHost);
    try {
        co_await write(reply.head, reply.body);
    } catch (...) {
        // Logged above; a client that cannot take the reply learns of the failure by the close.
    }
}

asio::awaitable<ClientSession::ForwardOutcome>
ClientSession::forward(const HTTPRequestHead& request, const BodyFraming& requestFraming,
                       HTTPStreamReader& clientReader) {
    constexpr ForwardOutcome abandoned{false, false};
    Bytes head;
    head.reserve(request.method().size() + request.target().size() +
                 request.headers().serializedSize() + configuration_.upstreamHost.size() + 160);
    const auto append = [&head](std::string_view text) {
        head.insert(head.end(), text.begin(), text.end());
    };
    append(request.method());
    append(" ");
    append(request.target());
    append(" HTTP/1.1\r\n");
    HeaderPolicy::appendUpstreamHeaders(head, request.headers(), configuration_.upstreamHost,
                                        requestFraming);
    append("\r\n");

    if (const auto failure = (co_await captureOutcome(sendHeadUpstream(head))).failure()) {
        co_await replyGatewayError(*failure);
        co_return abandoned;
    }

    const auto sent = co_await captureOutcome(BodyRelay::relay(
        requestFraming, clientReader, *upstream_, configuration_.receiveChunkSize));
    if (const auto failure = sent.failure()) {
        dropUpstream();
        if (!isGone(*failure)) {
            co_await replyGatewayError(*failure);
        }
        co_return abandoned;
    }

    // From here on the client only waits for the answer. When it goes away meanwhile, the
    // upstream exchange ends with it instead of running on for nobody. Bytes the client has sent
    // early (a pipelined request) end the watch: they are read in their turn.
    std::optional<ClientWatch> watch;
    if (clientReader.bufferedCount() == 0) {
        watch.emplace(*client_, [this] { clientWentAway(); });
    }

    int interimCount = 0;
    while (true) {
        auto read = co_await captureOutcome(readResponseHead(interimCount));
        if (const auto failure = read.failure()) {
            dropUpstream();
            if (!clientGone_) {
                co_await replyGatewayError(*failure);
            }
            co_return abandoned;
        }
        const auto& response = read.value;

        const auto status = response->statusCode();
        ProxyLog::emit(ProxyLogEvent::responseObserved(static_cast<int>(status)));
        if (!isInterim(status)) {
            usageSource_->ingest(response->headers(), clock_());
        }
        const auto responseFraming = BodyFraming::forResponse(*response, request.method());
        const bool keep = upstreamWantsKeepAlive(*response) &&
                          responseFraming.kind() != BodyFraming::Kind::untilClose;
        HeadFirstSink clientSink(
            downstreamHead(*response, responseFraming, !keep, upstreamReader_->bufferedCount()),
            *client_);
        bool delivered = true;
        try {
            if (upstreamReader_->bufferedCount() == 0) {
                // No body bytes at hand: the head goes on alone, at once.
                co_await clientSink.flush();
            }
            co_await BodyRelay::relay(responseFraming, *upstreamReader_, clientSink,
                                      configuration_.receiveChunkSize);
            if (clientSink.holdsHead()) {
                // No body bytes went out with the head.
                co_await clientSink.flush();
            }
        } catch (...) {
            delivered = false;
        }
        if (!delivered) {
            // The head goes out even when the body failed before a piece of it did; the client
            // learns of the failure by the close.
            try {
                co_await clientSink.flush();
            } catch (...) {
                // The client cannot take the head either: it is gone, and only the close is left.
            }
            dropUpstream();
            co_return abandoned;
        }
        if (isInterim(status)) {
            continue;
        }
        if (!keep) {
            dropUpstream();
        }
        co_return ForwardOutcome{true, keep};
    }
}

asio::awaitable<void> ClientSession::sendHeadUpstream(ByteView head) {
    // An idle kept connection that the upstream has closed (or that holds bytes nobody asked
    // for) is replaced before the request goes out, so that the request is not lost on it.
    if (upstream_ && (upstreamReader_->bufferedCount() > 0 || upstream_->hasPendingInput())) {
        dropUpstream();
    }
    if (upstream_) {
        bool sent = true;
        try {
            co_await upstream_->send(head);
        } catch (const ProxyError&) {
            sent = false;
        }
        if (sent) {
            co_return;
        }
        dropUpstream();
    }
    co_await connectUpstream();
    co_await upstream_->send(head);
}

asio::awaitable<void> ClientSession::connectUpstream() {
    UpstreamEndpoint endpoint;
    endpoint.host = configuration_.upstreamHost;
    endpoint.port = configuration_.upstreamPort;
    endpoint.tlsContext = configuration_.upstreamUsesTLS ? tlsContext_ : nullptr;
    endpoint.connectTimeout = std::chrono::seconds(30);
    endpoint.keepAliveIdle = std::chrono::seconds(60);
    if (configuration_.upstreamUsesTLS && !endpoint.tlsContext) {
        throw ProxyError::network(ProxyFailure::tlsFailure);
    }
    auto stream = NetworkStream::outgoing(co_await asio::this_coro::executor, std::move(endpoint),
                                          configuration_.receiveChunkSize);
    co_await stream->start();
    ProxyLog::emit(ProxyLogEvent::upstreamConnected());
    upstream_ = stream;
    upstreamReader_ = std::make_unique<HTTPStreamReader>(stream, configuration_.upstreamTimeout);
}

void ClientSession::clientWentAway() {
    clientGone_ = true;
    // Both connections end now; the reads and sends under way fail, and forward() lets go of
    // the upstream as after any failure.
    client_->cancel();
    if (upstream_) {
        upstream_->cancel();
    }
}

void ClientSession::dropUpstream() {
    if (upstream_) {
        upstream_->cancel();
    }
    upstream_.reset();
    upstreamReader_.reset();
}

} // namespace meterly::proxy
