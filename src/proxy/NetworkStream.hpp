#pragma once

#include "proxy/ByteStream.hpp"
#include "proxy/ProxyConfiguration.hpp"

#include <asio/any_io_executor.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace meterly::proxy {

struct TLSSession;
class UpstreamResolver;

// Where and how an outgoing connection is made; chosen by whoever opens it.
struct UpstreamEndpoint {
    std::string host;
    std::uint16_t port = 0;
    // Looks `host` up, on a worker thread; none: the system's resolver.
    std::shared_ptr<const UpstreamResolver> resolver;
    // Wrap the connection in TLS: `host` as the server name, "http/1.1" as the only ALPN protocol,
    // the peer's certificate and host name checked against `tlsContext`'s trust store.
    std::shared_ptr<asio::ssl::context> tlsContext;
    // Limit for looking up, connecting and the TLS handshake together.
    ProxyDuration connectTimeout = std::chrono::seconds(30);
    // How long one of the host's addresses is tried alone before the next is tried beside it.
    ProxyDuration attemptDelay = std::chrono::milliseconds(250);
    // Idle time before TCP keep-alive probes start.
    std::chrono::seconds keepAliveIdle{60};
};

// A TLS client context that verifies peers against the system's trust store (SSL_CERT_FILE and
// SSL_CERT_DIR are honoured). Throws ProxyError::network(tlsFailure) if OpenSSL cannot build it.
std::shared_ptr<asio::ssl::context> makeUpstreamTLSContext();

// One TCP connection, plain or inside TLS, as a byte source and sink. All of its operations run
// on the executor of its socket (the owning session's event loop); only cancel() may be called from
// elsewhere. cancel() closes the connection. An operation cancelled by its awaiting coroutine (a
// lost time-out race) ends the connection too: a TLS stream is closed at once; a plain stream
// takes no further receives but may still send its owner's last reply before the owner closes it.
// A stream is never reused for another exchange after a cancellation.
class NetworkStream final : public ByteSource,
                            public ByteSink,
                            public std::enable_shared_from_this<NetworkStream> {
public:
    // An accepted client connection; ready as soon as start() is called.
    static std::shared_ptr<NetworkStream> accepted(asio::ip::tcp::socket socket,
                                                   std::size_t maximumReceive);
    // An outgoing connection to `endpoint`, made by start().
    static std::shared_ptr<NetworkStream>
    outgoing(asio::any_io_executor executor, UpstreamEndpoint endpoint, std::size_t maximumReceive);

    ~NetworkStream() override;
    NetworkStream(const NetworkStream&) = delete;
    NetworkStream& operator=(const NetworkStream&) = delete;

    // Makes the connection ready: looks up, connects (trying the host's addresses side by side,
    // see UpstreamConnector) and handshakes an outgoing one, all within the endpoint's
    // connectTimeout. Throws ProxyError::network(...) on failure, ProxyError::timedOut() past the
    // limit, ProxyError::cancelled if cancel() came first.
    asio::awaitable<void> start();

    // At most `maximumReceive` bytes; nullopt at the end of the stream. Throws
    // ProxyError::network(...) on failure.
    asio::awaitable<std::optional<Bytes>> receive() override;

    // receive() that waits at most `limit`, measured by the stream's own timer, which is set
    // only when the receive has to wait for the socket. Past the limit the connection ends as
    // after a lost race (see above) and ProxyError::timedOut() is thrown.
    asio::awaitable<std::optional<Bytes>> receiveWithin(ProxyDuration limit) override;

    // Writes all of `bytes`. Throws ProxyError::network(...) on failure.
    asio::awaitable<void> send(ByteView bytes) override;

    // True when the peer has sent bytes or closed its side, as far as can be seen without
    // waiting; a connection that is idle between requests should show neither.
    bool hasPendingInput() const;

    // Watches the connection for its peer's end while the owner waits on something else, without
    // reading from it: `onEnd` runs on the stream's executor once the peer has closed or reset the
    // connection. Bytes that arrive instead (for TLS, any record) end the watch without a call and
    // stay for the next receive. stopWatchingPeer() ends the watch without a call. Both are called
    // on the stream's executor only.
    void watchPeer(std::function<void()> onEnd);
    void stopWatchingPeer();

    // Closes the connection; pending and later operations fail. Safe from any thread, never fails.
    void cancel();

    asio::any_io_executor executor() const { return executor_; }

private:
    NetworkStream(asio::ip::tcp::socket socket, std::optional<UpstreamEndpoint> endpoint,
                  std::size_t maximumReceive);

    // When the receive under way must have ended; none when the caller's own race limits it.
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;

    asio::awaitable<std::optional<Bytes>> receiveUntil(Deadline deadline);
    asio::awaitable<std::error_code> connect();
    asio::awaitable<std::error_code> flushTLSOutput(Deadline deadline);
    // Takes the records the TLS object has ready and writes what the socket takes now; `rest` is
    // left holding what it did not take.
    std::error_code writeTLSOutputNow(asio::const_buffer& rest);
    asio::awaitable<std::error_code> fillTLSInput(Deadline deadline);
    // Where the next socket read puts ciphertext: behind what OpenSSL has not taken yet, moved to
    // the front of the buffer. Empty when the buffer is full.
    asio::mutable_buffer tlsReadArea();
    asio::awaitable<std::pair<std::error_code, std::size_t>> receiveTLS(Deadline deadline);
    // Socket reads and writes that complete without a wait when the socket is ready and only
    // otherwise suspend until it is.
    asio::awaitable<std::pair<std::error_code, std::size_t>> readSome(asio::mutable_buffer buffer,
                                                                      Deadline deadline);
    // What the socket holds now, without waiting; nullopt when it holds nothing.
    std::optional<std::pair<std::error_code, std::size_t>> readNow(asio::mutable_buffer buffer);
    asio::awaitable<std::error_code> writeAll(asio::const_buffer bytes, Deadline deadline);
    // Writes as much of `bytes` as the socket takes without waiting and leaves the rest in
    // `bytes`; a full socket is not an error.
    std::error_code writeNow(asio::const_buffer& bytes);
    asio::awaitable<std::error_code> awaitReady(asio::socket_base::wait_type wait,
                                                Deadline deadline);
    [[noreturn]] void fail(const std::error_code& error, bool receiving);
    // After a receive was cancelled or timed out: a TLS stream closes, a plain one stops reading.
    void endReceiving();
    bool startLimitedWait(std::chrono::steady_clock::time_point deadline);
    void armReceiveTimer(std::chrono::steady_clock::time_point expiry);
    void closeNow();
    void awaitPeer();
    void peerReady();
    bool peerWaitUnderWay() const { return !peerWaitBox_.expired(); }
    // Completes when the peer watch's readiness wait does; see readSome.
    template <typename Token>
    auto joinPeerWait(Token token);

    // A receive that waits on the peer watch's readiness wait rather than on one of its own.
    struct PeerWaitJoiner {
        virtual ~PeerWaitJoiner() = default;
        virtual void complete(std::error_code error) = 0;
    };
    template <typename Handler>
    struct PeerWaitJoinerOf;
    // Holds that receive. The watch's wait owns it, so that a wait the event loop drops at its
    // end takes the receive (and what the receive holds, this stream among it) along.
    struct PeerWaitBox {
        std::unique_ptr<PeerWaitJoiner> joiner;
    };

    asio::any_io_executor executor_;
    asio::ip::tcp::socket socket_;
    std::optional<UpstreamEndpoint> endpoint_;
    std::unique_ptr<TLSSession> tls_;
    Bytes tlsOutput_;
    std::size_t maximumReceive_;
    Bytes receiveBuffer_;
    bool cancelled_ = false;
    bool ended_ = false;
    bool receiveCancelled_ = false;
    // The peer watch: what runs at the peer's end while it is on, the signal that cancels its
    // wait for the socket's readiness alone, and that wait's box, which lives exactly as long as
    // the wait is under way (it may outlast the watch).
    std::function<void()> peerEnd_;
    asio::cancellation_signal peerWaitSignal_;
    std::weak_ptr<PeerWaitBox> peerWaitBox_;
    // The receive deadline: one timer per stream. It is set only when a wait with a deadline
    // finds it idle or set for later, and it cancels that wait through receiveSignal_ once the
    // wait's deadline has passed.
    asio::steady_timer receiveTimer_;
    // The limit of a start() under way; cancel() ends that start through it.
    asio::steady_timer* connectTimer_ = nullptr;
    asio::cancellation_signal receiveSignal_;
    std::optional<std::chrono::steady_clock::time_point> receiveTimerExpiry_;
    std::uint64_t receiveTimerArming_ = 0;
    std::chrono::steady_clock::time_point receiveDeadline_;
    bool waitingWithDeadline_ = false;
    bool receiveTimedOut_ = false;
    // Socket reads in a row that found bytes without waiting.
    unsigned readyInARow_ = 0;
    // The last socket read filled its buffer, so more bytes are likely waiting.
    bool lastReadFilled_ = true;
};

} // namespace meterly::proxy
