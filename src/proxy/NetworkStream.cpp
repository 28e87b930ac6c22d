#include "proxy/NetworkStream.hpp"

#include "proxy/ProxyError.hpp"

#include <asio/connect.hpp>
#include <asio/dispatch.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl/error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <utility>

namespace meterly::proxy {

namespace {

constexpr auto noThrow = asio::experimental::as_tuple(asio::use_awaitable);

// The one application protocol offered in the TLS handshake, in ALPN wire form.
constexpr unsigned char alpnHTTP11[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};

using KeepAliveIdle = asio::detail::socket_option::integer<IPPROTO_TCP, TCP_KEEPIDLE>;

bool isEndOfStream(const std::error_code& error) {
    return error == asio::error::eof || error == asio::ssl::error::stream_truncated;
}

bool isIPAddress(const std::string& host) {
    std::error_code error;
    asio::ip::make_address(host, error);
    return !error;
}

} // namespace

std::shared_ptr<asio::ssl::context> makeUpstreamTLSContext() {
    try {
        auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client);
        context->set_options(asio::ssl::context::default_workarounds |
                             asio::ssl::context::no_sslv2 | asio::ssl::context::no_sslv3 |
                             asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1);
        context->set_default_verify_paths();
        context->set_verify_mode(asio::ssl::verify_peer);
        return context;
    } catch (const std::system_error&) {
        throw ProxyError::network(ProxyFailure::tlsFailure);
    }
}

std::shared_ptr<NetworkStream> NetworkStream::accepted(asio::ip::tcp::socket socket,
                                                       std::size_t maximumReceive) {
    return std::shared_ptr<NetworkStream>(
        new NetworkStream(std::move(socket), std::nullopt, maximumReceive));
}

std::shared_ptr<NetworkStream> NetworkStream::outgoing(asio::any_io_executor executor,
                                                       UpstreamEndpoint endpoint,
                                                       std::size_t maximumReceive) {
    return std::shared_ptr<NetworkStream>(new NetworkStream(
        asio::ip::tcp::socket(std::move(executor)), std::move(endpoint), maximumReceive));
}

NetworkStream::NetworkStream(asio::ip::tcp::socket socket, std::optional<UpstreamEndpoint> endpoint,
                             std::size_t maximumReceive)
    : executor_(socket.get_executor()), socket_(std::move(socket)), endpoint_(std::move(endpoint)),
      maximumReceive_(maximumReceive == 0 ? 1 : maximumReceive) {}

NetworkStream::~NetworkStream() = default;

asio::awaitable<void> NetworkStream::start() {
    if (cancelled_) {
        throw ProxyError::cancelled();
    }
    if (!endpoint_) {
        co_return;
    }
    using namespace asio::experimental::awaitable_operators;
    asio::steady_timer deadline(executor_);
    deadline.expires_after(endpoint_->connectTimeout);
    // connect() reports its failures as values, so that a failure ends the race at once.
    auto outcome = co_await (connect() || deadline.async_wait(noThrow));
    if (outcome.index() == 1) {
        closeNow();
        throw ProxyError::network(ProxyFailure::timedOut);
    }
    if (const auto& error = std::get<0>(outcome)) {
        closeNow();
        throw ProxyError::network(ProxyFailure::from(error));
    }
    if (cancelled_) {
        throw ProxyError::cancelled();
    }
}

// Resolves, connects and handshakes; the first failure is returned, not thrown.
asio::awaitable<std::error_code> NetworkStream::connect() {
    const auto& endpoint = *endpoint_;
    asio::ip::tcp::resolver resolver(executor_);
    auto [resolveError, results] =
        co_await resolver.async_resolve(endpoint.host, std::to_string(endpoint.port), noThrow);
    if (resolveError) {
        co_return resolveError;
    }
    if (cancelled_) {
        co_return asio::error::operation_aborted;
    }
    auto [connectError, connected] = co_await asio::async_connect(socket_, results, noThrow);
    (void)connected;
    if (connectError) {
        co_return connectError;
    }
    std::error_code optionError;
    socket_.set_option(asio::ip::tcp::no_delay(true), optionError);
    socket_.set_option(asio::socket_base::keep_alive(true), optionError);
    socket_.set_option(KeepAliveIdle(static_cast<int>(endpoint.keepAliveIdle.count())),
                       optionError);

    if (!endpoint.tlsContext) {
        co_return std::error_code();
    }
    tls_ =
        std::make_unique<asio::ssl::stream<asio::ip::tcp::socket&>>(socket_, *endpoint.tlsContext);
    SSL* ssl = tls_->native_handle();
    const bool hostIsAddress = isIPAddress(endpoint.host);
    bool configured = SSL_set_alpn_protos(ssl, alpnHTTP11, sizeof alpnHTTP11) == 0;
    if (hostIsAddress) {
        // Server names are host names only; an address is checked against the certificate's
        // IP entries.
        configured = configured &&
                     X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), endpoint.host.c_str()) == 1;
    } else {
        configured = configured &&
                     SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                              const_cast<char*>(endpoint.host.c_str())) == 1 &&
                     SSL_set1_host(ssl, endpoint.host.c_str()) == 1;
    }
    if (!configured) {
        co_return std::error_code(static_cast<int>(ERR_get_error()),
                                  asio::error::get_ssl_category());
    }
    tls_->set_verify_mode(asio::ssl::verify_peer);
    auto [handshakeError] = co_await tls_->async_handshake(asio::ssl::stream_base::client, noThrow);
    if (handshakeError) {
        // Anything else that breaks the handshake (the peer closing, a reset) is a TLS failure.
        if (handshakeError == asio::error::operation_aborted ||
            handshakeError.category() == asio::error::get_ssl_category()) {
            co_return handshakeError;
        }
        co_return asio::ssl::error::unexpected_result;
    }
    co_return std::error_code();
}

asio::awaitable<std::optional<Bytes>> NetworkStream::receive() {
    if (cancelled_ || receiveCancelled_) {
        throw ProxyError::network(ProxyFailure::cancelled);
    }
    if (ended_) {
        // A socket that reported its end is not asked again: it would wait for readiness that
        // never comes.
        co_return std::nullopt;
    }
    // One buffer per stream, reused; what arrived is handed out in a value of its own size.
    if (receiveBuffer_.size() != maximumReceive_) {
        receiveBuffer_.resize(maximumReceive_);
    }
    std::error_code error;
    std::size_t count = 0;
    if (tls_) {
        std::tie(error, count) =
            co_await tls_->async_read_some(asio::buffer(receiveBuffer_), noThrow);
    } else {
        std::tie(error, count) =
            co_await socket_.async_read_some(asio::buffer(receiveBuffer_), noThrow);
    }
    if (error && !(isEndOfStream(error) && count > 0)) {
        if (isEndOfStream(error)) {
            ended_ = true;
            co_return std::nullopt;
        }
        fail(error, true);
    }
    co_return Bytes(receiveBuffer_.begin(),
                    receiveBuffer_.begin() + static_cast<std::ptrdiff_t>(count));
}

asio::awaitable<void> NetworkStream::send(ByteView bytes, bool /*isComplete*/) {
    if (cancelled_) {
        throw ProxyError::network(ProxyFailure::cancelled);
    }
    if (bytes.empty()) {
        co_return;
    }
    std::error_code error;
    if (tls_) {
        std::tie(error, std::ignore) =
            co_await asio::async_write(*tls_, asio::buffer(bytes.data(), bytes.size()), noThrow);
    } else {
        std::tie(error, std::ignore) =
            co_await asio::async_write(socket_, asio::buffer(bytes.data(), bytes.size()), noThrow);
    }
    if (error) {
        fail(error, false);
    }
}

void NetworkStream::fail(const std::error_code& error, bool receiving) {
    if (error == asio::error::operation_aborted || cancelled_) {
        if (receiving && !tls_ && !cancelled_) {
            // A receive that lost a time-out race: nothing more is read from this connection, but
            // a plain one can still carry the owner's last reply before the owner closes it.
            receiveCancelled_ = true;
            std::error_code ignored;
            socket_.shutdown(asio::ip::tcp::socket::shutdown_receive, ignored);
        } else {
            // A cancelled TLS stream, or a cancelled send, ends the whole connection.
            closeNow();
        }
        throw ProxyError::network(ProxyFailure::cancelled);
    }
    throw ProxyError::network(ProxyFailure::from(error));
}

bool NetworkStream::hasPendingInput() const {
    if (cancelled_ || receiveCancelled_ || ended_ || !socket_.is_open()) {
        return true;
    }
    if (tls_ && SSL_pending(tls_->native_handle()) > 0) {
        return true;
    }
    pollfd watched{};
    watched.fd = const_cast<asio::ip::tcp::socket&>(socket_).native_handle();
    watched.events = POLLIN | POLLRDHUP;
    return ::poll(&watched, 1, 0) != 0;
}

void NetworkStream::cancel() {
    asio::dispatch(executor_, [self = shared_from_this()] { self->closeNow(); });
}

void NetworkStream::closeNow() {
    cancelled_ = true;
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
}

} // namespace meterly::proxy
