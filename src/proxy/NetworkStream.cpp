// NetworkStream: one TCP connection of the relay, plain or inside TLS.
//
// Why it does not use asio::ssl::stream and a timer raced against every receive:
//
// - TLS runs over memory buffers (TLSSession). A receive reads as much ciphertext as the socket
//   holds (up to 256 KiB, straight into the buffer OpenSSL reads from, never zero-filled) and
//   then drains every record at hand into one piece; a send turns its whole piece into records
//   first and writes them in one socket write. asio::ssl::stream reads and writes about one
//   record (16 KiB) per operation, so a fast streamed body cost a suspension and a scheduler
//   round trip per record.
// - Socket reads and writes are tried at once on the non-blocking socket; only a socket that is
//   not ready suspends the coroutine until it is. Ready I/O therefore never goes through the
//   scheduler and wakes no other thread. After 16 ready reads in a row a receive lets the rest of
//   its executor run, so that one fast body does not keep a thread to itself.
// - Time limits use one timer per stream (receiveTimer_), set only when a receive really has to
//   wait, left running after that wait and moved only when it is idle or set for later than the
//   new deadline. When it expires during a wait it cancels that wait through a cancellation slot.
//   Racing a timer with `||` instead costs two coroutine frames and a timer set and cancelled on
//   every receive, ready or not.
// - A large received piece leaves in the buffer it was read into instead of being copied; small
//   pieces are copied out of the one receive buffer the stream reuses.
//
// What the relay benchmark (bench/proxy/proxy_relay_bench, release build) measured with this
// design, against the same local TLS upstream reached directly, in two runs on the shared 8-core
// development machine under a load average of about 16 (the tails there are the machine's):
//   64 MiB response body         relayed 310-402 MiB/s, 0.77-1.07 of direct (376-402 MiB/s)
//   small exchange, kept conn.   added median 92-139 us (direct median 32-35 us)
//   streamed events, 2 ms apart  added median 21-63 us per event
//   128 kept connections         all 2560 requests served; resident memory 23-24 MiB at peak
// Run the benchmark on a quiet machine before and after any change to this file.

#include "proxy/NetworkStream.hpp"

#include "proxy/ProxyError.hpp"
#include "proxy/TLSSession.hpp"
#include "proxy/UpstreamConnector.hpp"
#include "proxy/UpstreamResolver.hpp"

#include <algorithm>
#include <asio/associated_cancellation_slot.hpp>
#include <asio/async_result.hpp>
#include <asio/bind_cancellation_slot.hpp>
#include <asio/dispatch.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/ssl/error.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <cerrno>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <utility>

namespace meterly::proxy {

namespace {

constexpr auto noThrow = asio::experimental::as_tuple(asio::use_awaitable);

// The one application protocol offered in the TLS handshake, in ALPN wire form.
constexpr unsigned char alpnHTTP11[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};

using KeepAliveIdle = asio::detail::socket_option::integer<IPPROTO_TCP, TCP_KEEPIDLE>;

// Whether a cancellation has reached the awaiting coroutine. One that comes while the coroutine
// is suspended in something that ends no operation for it (a socket read that had already
// finished, a yield to the executor) is only recorded in this state; it is looked at before every
// further wait and before a receive hands out what it read, so that it is not lost.
bool wasCancelled(const asio::cancellation_state& state) {
    return state.cancelled() != asio::cancellation_type::none;
}

bool isEndOfStream(const std::error_code& error) {
    return error == asio::error::eof || error == asio::ssl::error::stream_truncated;
}

bool isIPAddress(const std::string& host) {
    std::error_code error;
    asio::ip::make_address(host, error);
    return !error;
}

// The most ciphertext taken from the socket in one read: many records at a time when a fast
// body has piled up, which saves reads. The buffer is left uninitialised, so that only the part
// a connection has used takes memory.
constexpr std::size_t tlsInputSize = 262144;

// After this many socket reads in a row that found bytes at once, a receive lets the other work
// of its executor run before it goes on, so that a fast body does not hold a thread to itself.
constexpr unsigned readsBeforeYield = 16;

bool wouldBlock(const std::error_code& error) {
    return error == asio::error::would_block || error == asio::error::try_again;
}

// The error OpenSSL reports for the call that just failed, in Asio's TLS category.
std::error_code lastTLSError() {
    const auto code = ERR_get_error();
    if (code == 0) {
        return asio::ssl::error::unexpected_result;
    }
    return {static_cast<int>(code), asio::error::get_ssl_category()};
}

// Empties this thread's OpenSSL error queue, as SSL_get_error needs before each TLS call.
// Clearing walks every slot of the queue even when it is empty, so an empty queue is only looked
// at.
void clearTLSErrors() {
    if (ERR_peek_error() != 0) {
        ERR_clear_error();
    }
}

// Whether bytes have come that nobody has read yet: plaintext inside the TLS object, or
// ciphertext not yet handed to it.
bool tlsHoldsInput(const TLSSession& session) {
    return SSL_pending(session.ssl) > 0 || session.pendingInput() > 0;
}

// Whether SSL_read could produce anything now: plaintext or records already inside the TLS
// object, ciphertext not yet handed to it, or a close it has seen (which it reports again).
// Without any of these it can only ask for more input.
bool tlsReadCanProgress(const TLSSession& session) {
    return session.pendingInput() > 0 || SSL_has_pending(session.ssl) != 0 ||
           (SSL_get_shutdown(session.ssl) & SSL_RECEIVED_SHUTDOWN) != 0;
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
      maximumReceive_(maximumReceive == 0 ? 1 : maximumReceive), receiveTimer_(executor_) {
    if (socket_.is_open()) {
        std::error_code ignored;
        socket_.non_blocking(true, ignored);
    }
}

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
    connectTimer_ = &deadline;
    struct EndOfStart {
        NetworkStream& stream;
        ~EndOfStart() { stream.connectTimer_ = nullptr; }
    } endOfStart{*this};
    // connect() reports its failures as values, so that a failure ends the race at once; every
    // step of it ends when it loses the race.
    auto outcome = co_await (connect() || deadline.async_wait(noThrow));
    if (cancelled_) {
        closeNow();
        throw ProxyError::cancelled();
    }
    if (outcome.index() == 1) {
        closeNow();
        throw ProxyError::timedOut();
    }
    if (const auto& error = std::get<0>(outcome)) {
        closeNow();
        throw ProxyError::network(ProxyFailure::from(error));
    }
}

// Looks up, connects and handshakes; the first failure is returned, not thrown.
asio::awaitable<std::error_code> NetworkStream::connect() {
    const auto& endpoint = *endpoint_;
    auto resolver =
        endpoint.resolver ? endpoint.resolver : std::make_shared<const SystemUpstreamResolver>();
    // The system's lookup cannot be cancelled, so it runs on a worker that a lost race leaves
    // behind.
    auto [resolveError, addresses] =
        co_await resolveOnWorker(std::move(resolver), endpoint.host, endpoint.port);
    if (resolveError) {
        co_return resolveError;
    }
    if (cancelled_) {
        co_return asio::error::operation_aborted;
    }
    if (auto connectError = co_await UpstreamConnector::connect(socket_, std::move(addresses),
                                                                endpoint.attemptDelay)) {
        co_return connectError;
    }
    std::error_code optionError;
    socket_.non_blocking(true, optionError);
    socket_.set_option(asio::ip::tcp::no_delay(true), optionError);
    socket_.set_option(asio::socket_base::keep_alive(true), optionError);
    socket_.set_option(KeepAliveIdle(static_cast<int>(endpoint.keepAliveIdle.count())),
                       optionError);

    if (!endpoint.tlsContext) {
        co_return std::error_code();
    }
    tls_ = std::make_unique<TLSSession>(endpoint.tlsContext->native_handle());
    SSL* ssl = tls_->ssl;
    if (ssl == nullptr) {
        co_return lastTLSError();
    }
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
        co_return lastTLSError();
    }
    SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
    SSL_set_connect_state(ssl);
    while (true) {
        ERR_clear_error();
        const int result = SSL_do_handshake(ssl);
        const int reason = result == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl, result);
        const std::error_code tlsError = reason == SSL_ERROR_NONE || reason == SSL_ERROR_WANT_READ
                                             ? std::error_code()
                                             : lastTLSError();
        if (auto flushError = co_await flushTLSOutput(std::nullopt)) {
            co_return flushError == asio::error::operation_aborted
                ? flushError
                : std::error_code(asio::ssl::error::unexpected_result);
        }
        if (reason == SSL_ERROR_NONE) {
            co_return std::error_code();
        }
        if (tlsError) {
            co_return tlsError;
        }
        if (auto readError = co_await fillTLSInput(std::nullopt)) {
            // Anything that breaks the handshake (the peer closing, a reset) is a TLS failure.
            co_return readError == asio::error::operation_aborted
                ? readError
                : std::error_code(asio::ssl::error::unexpected_result);
        }
    }
}

asio::awaitable<std::error_code> NetworkStream::flushTLSOutput(Deadline deadline) {
    asio::const_buffer rest;
    if (auto error = writeTLSOutputNow(rest); error || rest.size() == 0) {
        co_return error;
    }
    co_return co_await writeAll(rest, deadline);
}

std::error_code NetworkStream::writeTLSOutputNow(asio::const_buffer& rest) {
    rest = asio::const_buffer();
    const auto pending = BIO_ctrl_pending(tls_->output);
    if (pending == 0) {
        return std::error_code();
    }
    tlsOutput_.resize(pending);
    const int taken = BIO_read(tls_->output, tlsOutput_.data(), static_cast<int>(pending));
    if (taken <= 0) {
        return std::error_code(asio::ssl::error::unexpected_result);
    }
    rest = asio::buffer(tlsOutput_.data(), static_cast<std::size_t>(taken));
    return writeNow(rest);
}

asio::awaitable<std::error_code> NetworkStream::fillTLSInput(Deadline deadline) {
    const auto area = tlsReadArea();
    if (area.size() == 0) {
        co_return std::error_code(asio::ssl::error::unexpected_result);
    }
    auto [error, count] = co_await readSome(area, deadline);
    if (error) {
        co_return error;
    }
    tls_->inputEnd += count;
    co_return std::error_code();
}

asio::mutable_buffer NetworkStream::tlsReadArea() {
    auto& session = *tls_;
    if (!session.inputBuffer) {
        session.inputBuffer.reset(new std::uint8_t[tlsInputSize]);
    }
    if (session.pendingInput() == 0) {
        session.inputStart = 0;
        session.inputEnd = 0;
    } else if (session.inputStart > 0) {
        // Move what OpenSSL has not taken yet to the front, to read the rest behind it.
        std::memmove(session.inputBuffer.get(), session.inputBuffer.get() + session.inputStart,
                     session.pendingInput());
        session.inputEnd = session.pendingInput();
        session.inputStart = 0;
    }
    return asio::buffer(session.inputBuffer.get() + session.inputEnd,
                        tlsInputSize - session.inputEnd);
}

// Hands out the plaintext that the records already received hold, up to the buffer's size,
// reading from the socket only when there is none.
asio::awaitable<std::pair<std::error_code, std::size_t>>
NetworkStream::receiveTLS(Deadline deadline) {
    while (true) {
        std::size_t filled = 0;
        std::error_code tlsError;
        bool closed = false;
        // A call that could only ask for more input is not made.
        while (filled < receiveBuffer_.size() && tlsReadCanProgress(*tls_)) {
            clearTLSErrors();
            const int count = SSL_read(tls_->ssl, receiveBuffer_.data() + filled,
                                       static_cast<int>(receiveBuffer_.size() - filled));
            if (count > 0) {
                filled += static_cast<std::size_t>(count);
                continue;
            }
            const int reason = SSL_get_error(tls_->ssl, count);
            if (reason == SSL_ERROR_ZERO_RETURN) {
                closed = true;
            } else if (reason != SSL_ERROR_WANT_READ) {
                tlsError = lastTLSError();
            }
            break;
        }
        // Reading may have produced records of its own to send (a key update), which is rare:
        // only then does the flush take a coroutine.
        if (BIO_ctrl_pending(tls_->output) > 0) {
            if (auto flushError = co_await flushTLSOutput(deadline); flushError && filled == 0) {
                co_return std::pair{flushError, std::size_t{0}};
            }
        }
        if (filled > 0) {
            co_return std::pair{std::error_code(), filled};
        }
        // A further read would not take a cancellation that came while the last read or flush had
        // finished but not yet gone on.
        if (wasCancelled(co_await asio::this_coro::cancellation_state)) {
            co_return std::pair{std::error_code(asio::error::operation_aborted), std::size_t{0}};
        }
        if (closed) {
            co_return std::pair{std::error_code(asio::error::eof), std::size_t{0}};
        }
        if (tlsError) {
            co_return std::pair{tlsError, std::size_t{0}};
        }
        if (auto readError = co_await fillTLSInput(deadline)) {
            co_return std::pair{readError, std::size_t{0}};
        }
        // Nor would a flush of what the records read bring.
        if (wasCancelled(co_await asio::this_coro::cancellation_state)) {
            co_return std::pair{std::error_code(asio::error::operation_aborted), std::size_t{0}};
        }
    }
}

std::optional<std::pair<std::error_code, std::size_t>>
NetworkStream::readNow(asio::mutable_buffer buffer) {
    std::error_code error;
    const std::size_t count = socket_.read_some(buffer, error);
    if (wouldBlock(error)) {
        return std::nullopt;
    }
    lastReadFilled_ = !error && count == buffer.size();
    return std::pair{error, count};
}

// A socket whose last read filled the buffer probably holds more: it is read at once, without
// going through the event loop. Otherwise the read is handed to the loop, which tries it once and,
// when the socket has nothing, waits for the socket's next readiness report; after a read that
// emptied the socket it does not even try, so that a wait costs no read that finds nothing and no
// change of the readiness registration.
asio::awaitable<std::pair<std::error_code, std::size_t>>
NetworkStream::readSome(asio::mutable_buffer buffer, Deadline deadline) {
    if (lastReadFilled_) {
        if (const auto outcome = readNow(buffer)) {
            if (++readyInARow_ >= readsBeforeYield) {
                readyInARow_ = 0;
                co_await asio::post(executor_, asio::use_awaitable);
            }
            co_return *outcome;
        }
    }
    readyInARow_ = 0;
    if (peerWaitUnderWay()) {
        // The peer watch's wait for readiness is still on the socket (the watch ended before the
        // peer sent again). A read queued behind it would be reported ready by the same event and
        // completed a turn of the event loop later; waiting on that wait instead resumes this read
        // as soon as the event comes, and it then reads at once.
        if (auto error = co_await awaitReady(asio::socket_base::wait_read, deadline)) {
            co_return std::pair{error, std::size_t{0}};
        }
        if (const auto outcome = readNow(buffer)) {
            co_return *outcome;
        }
    }
    std::pair<std::error_code, std::size_t> outcome;
    if (!deadline) {
        auto [error, count] = co_await socket_.async_read_some(buffer, noThrow);
        outcome = {error, count};
    } else {
        if (!startLimitedWait(*deadline)) {
            co_return std::pair{std::error_code(asio::error::operation_aborted), std::size_t{0}};
        }
        asio::cancellation_slot callerSlot = (co_await asio::this_coro::cancellation_state).slot();
        if (callerSlot.is_connected()) {
            callerSlot.assign([this](asio::cancellation_type type) { receiveSignal_.emit(type); });
        }
        auto [error, count] = co_await socket_.async_read_some(
            buffer, asio::bind_cancellation_slot(receiveSignal_.slot(), noThrow));
        if (callerSlot.is_connected()) {
            callerSlot.clear();
        }
        waitingWithDeadline_ = false;
        outcome = {error, count};
    }
    lastReadFilled_ = !outcome.first && outcome.second == buffer.size();
    co_return outcome;
}

std::error_code NetworkStream::writeNow(asio::const_buffer& bytes) {
    while (bytes.size() > 0) {
        std::error_code error;
        const std::size_t count = socket_.write_some(bytes, error);
        if (error) {
            return wouldBlock(error) ? std::error_code() : error;
        }
        bytes += count;
    }
    return std::error_code();
}

asio::awaitable<std::error_code> NetworkStream::writeAll(asio::const_buffer bytes,
                                                         Deadline deadline) {
    while (true) {
        if (auto error = writeNow(bytes)) {
            co_return error;
        }
        if (bytes.size() == 0) {
            co_return std::error_code();
        }
        if (wasCancelled(co_await asio::this_coro::cancellation_state)) {
            co_return std::error_code(asio::error::operation_aborted);
        }
        if (auto waitError = co_await awaitReady(asio::socket_base::wait_write, deadline)) {
            co_return waitError;
        }
    }
}

template <typename Handler>
struct NetworkStream::PeerWaitJoinerOf final : PeerWaitJoiner {
    explicit PeerWaitJoinerOf(Handler&& waiting) : handler(std::move(waiting)) {}
    void complete(std::error_code error) override {
        auto slot = asio::get_associated_cancellation_slot(handler);
        if (slot.is_connected()) {
            slot.clear();
        }
        std::move(handler)(error);
    }
    Handler handler;
};

// The receive's cancellation (its deadline, or its caller's) cancels the watch's wait alone: a
// send waiting on the same socket is not touched.
template <typename Token>
auto NetworkStream::joinPeerWait(Token token) {
    return asio::async_initiate<Token, void(std::error_code)>(
        [this](auto handler) {
            using Handler = decltype(handler);
            auto slot = asio::get_associated_cancellation_slot(handler);
            if (slot.is_connected()) {
                slot.assign([this](asio::cancellation_type type) { peerWaitSignal_.emit(type); });
            }
            // Only called while the wait is under way, which holds the box.
            peerWaitBox_.lock()->joiner =
                std::make_unique<PeerWaitJoinerOf<Handler>>(std::move(handler));
        },
        token);
}

// Waits until the socket is ready. Without a deadline the wait is cancelled like any operation of
// the awaiting coroutine; with one, the stream's timer cancels it when the deadline passes
// (receiveTimedOut_ tells that apart), and a cancellation of the awaiting coroutine is passed on.
asio::awaitable<std::error_code> NetworkStream::awaitReady(asio::socket_base::wait_type wait,
                                                           Deadline deadline) {
    // A wait for input joins the peer watch's wait when that is still under way. (Each wait is a
    // statement of its own: GCC 12 destroys a temporary of a co_await on a conditional twice.)
    const bool joinsPeerWait = wait == asio::socket_base::wait_read && peerWaitUnderWay();
    if (!deadline) {
        if (joinsPeerWait) {
            auto [error] = co_await joinPeerWait(noThrow);
            co_return error;
        }
        auto [error] = co_await socket_.async_wait(wait, noThrow);
        co_return error;
    }
    if (!startLimitedWait(*deadline)) {
        co_return std::error_code(asio::error::operation_aborted);
    }
    asio::cancellation_slot callerSlot = (co_await asio::this_coro::cancellation_state).slot();
    if (callerSlot.is_connected()) {
        callerSlot.assign([this](asio::cancellation_type type) { receiveSignal_.emit(type); });
    }
    std::error_code error;
    if (joinsPeerWait) {
        auto [joined] =
            co_await joinPeerWait(asio::bind_cancellation_slot(receiveSignal_.slot(), noThrow));
        error = joined;
    } else {
        auto [waited] = co_await socket_.async_wait(
            wait, asio::bind_cancellation_slot(receiveSignal_.slot(), noThrow));
        error = waited;
    }
    if (callerSlot.is_connected()) {
        callerSlot.clear();
    }
    waitingWithDeadline_ = false;
    co_return error;
}

// Readies the stream's timer for a wait that must end by `deadline`; false (and the time-out
// noted) when the deadline has passed already. The timer is left running after the wait:
// stopping it would cost a system call and a wake-up before the bytes go on. When it runs out it
// looks at the wait under way then, if any.
bool NetworkStream::startLimitedWait(std::chrono::steady_clock::time_point deadline) {
    if (std::chrono::steady_clock::now() >= deadline) {
        receiveTimedOut_ = true;
        return false;
    }
    receiveDeadline_ = deadline;
    if (!receiveTimerExpiry_ || *receiveTimerExpiry_ > deadline) {
        armReceiveTimer(deadline);
    }
    waitingWithDeadline_ = true;
    return true;
}

// Sets the timer to `expiry`. The timer never runs later than the deadline of the wait under way;
// a timer that runs out early for it (it was set for an earlier wait) is set again for it.
void NetworkStream::armReceiveTimer(std::chrono::steady_clock::time_point expiry) {
    const std::uint64_t arming = ++receiveTimerArming_;
    receiveTimerExpiry_ = expiry;
    receiveTimer_.expires_at(expiry);
    receiveTimer_.async_wait([weak = weak_from_this(), arming](const std::error_code& error) {
        const auto self = weak.lock();
        // A cancelled timer, or one that was set again since, is left alone.
        if (error || !self || self->receiveTimerArming_ != arming) {
            return;
        }
        self->receiveTimerExpiry_.reset();
        if (!self->waitingWithDeadline_ || self->cancelled_) {
            return;
        }
        if (std::chrono::steady_clock::now() < self->receiveDeadline_) {
            self->armReceiveTimer(self->receiveDeadline_);
            return;
        }
        self->receiveTimedOut_ = true;
        self->receiveSignal_.emit(asio::cancellation_type::terminal);
    });
}

// Both hand out receiveUntil's own coroutine rather than waiting on it in one of their own.
asio::awaitable<std::optional<Bytes>> NetworkStream::receive() {
    return receiveUntil(std::nullopt);
}

asio::awaitable<std::optional<Bytes>> NetworkStream::receiveWithin(ProxyDuration limit) {
    return receiveUntil(std::chrono::steady_clock::now() + limit);
}

asio::awaitable<std::optional<Bytes>> NetworkStream::receiveUntil(Deadline deadline) {
    if (cancelled_ || receiveCancelled_) {
        throw ProxyError::cancelled();
    }
    if (wasCancelled(co_await asio::this_coro::cancellation_state)) {
        // Cancelled before it began (a race lost before this side ran at all): it ends as an
        // interrupted receive does, instead of leaving the first wait to throw asio's own error.
        fail(asio::error::operation_aborted, true);
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
        std::tie(error, count) = co_await receiveTLS(deadline);
    } else {
        std::tie(error, count) = co_await readSome(asio::buffer(receiveBuffer_), deadline);
    }
    if (!error && wasCancelled(co_await asio::this_coro::cancellation_state)) {
        // The read finished, but the awaiting coroutine was cancelled before it went on: this
        // receive ends as one that the cancellation interrupted, bytes and all.
        error = asio::error::operation_aborted;
        count = 0;
    }
    if (receiveTimedOut_ && !cancelled_) {
        // The deadline passed: the connection ends as after a lost race.
        endReceiving();
        throw ProxyError::timedOut();
    }
    if (error && !(isEndOfStream(error) && count > 0)) {
        if (isEndOfStream(error)) {
            ended_ = true;
            co_return std::nullopt;
        }
        fail(error, true);
    }
    if (count < maximumReceive_ / 2) {
        co_return Bytes(receiveBuffer_.begin(),
                        receiveBuffer_.begin() + static_cast<std::ptrdiff_t>(count));
    }
    // A large piece leaves in the buffer it was read into; the next receive takes a new one.
    Bytes received = std::move(receiveBuffer_);
    receiveBuffer_.clear();
    received.resize(count);
    co_return received;
}

asio::awaitable<void> NetworkStream::send(ByteView bytes) {
    if (cancelled_) {
        throw ProxyError::cancelled();
    }
    if (bytes.empty()) {
        co_return;
    }
    std::error_code error;
    asio::const_buffer rest;
    if (tls_) {
        // The whole piece becomes records first and goes out in one write.
        clearTLSErrors();
        std::size_t offset = 0;
        while (offset < bytes.size() && !error) {
            const auto piece = std::min<std::size_t>(bytes.size() - offset, 1 << 30);
            const int written =
                SSL_write(tls_->ssl, bytes.data() + offset, static_cast<int>(piece));
            if (written <= 0) {
                error = lastTLSError();
                break;
            }
            offset += static_cast<std::size_t>(written);
        }
        if (!error) {
            error = writeTLSOutputNow(rest);
        }
    } else {
        rest = asio::buffer(bytes.data(), bytes.size());
        error = writeNow(rest);
    }
    // Only a socket that did not take everything at once makes the send wait.
    if (!error && rest.size() > 0) {
        error = co_await writeAll(rest, std::nullopt);
    }
    if (error) {
        fail(error, false);
    }
}

void NetworkStream::fail(const std::error_code& error, bool receiving) {
    if (error == asio::error::operation_aborted || cancelled_) {
        if (receiving && !cancelled_) {
            endReceiving();
        } else {
            // A cancelled send ends the whole connection.
            closeNow();
        }
        throw ProxyError::cancelled();
    }
    throw ProxyError::network(ProxyFailure::from(error));
}

bool NetworkStream::hasPendingInput() const {
    if (cancelled_ || receiveCancelled_ || ended_ || !socket_.is_open()) {
        return true;
    }
    if (tls_ && tlsHoldsInput(*tls_)) {
        return true;
    }
    pollfd watched{};
    watched.fd = const_cast<asio::ip::tcp::socket&>(socket_).native_handle();
    watched.events = POLLIN | POLLRDHUP;
    return ::poll(&watched, 1, 0) != 0;
}

// The watch waits for the socket to become readable and only then looks, without taking
// anything. Its wait is not cancelled when the watch stops: it stays until the peer next sends or
// the connection closes. That is the usual end of an exchange (the next request arrives), and the
// session's own read of that request waits on that same wait (readSome), so that the watch costs
// no wake-up of its own. Starting the wait changes the readiness registration once, which also
// reports an end that came before the watch began.
void NetworkStream::watchPeer(std::function<void()> onEnd) {
    if (cancelled_ || ended_ || !socket_.is_open()) {
        return;
    }
    peerEnd_ = std::move(onEnd);
    if (!peerWaitUnderWay()) {
        awaitPeer();
    }
}

void NetworkStream::stopWatchingPeer() {
    peerEnd_ = nullptr;
}

void NetworkStream::awaitPeer() {
    auto box = std::make_shared<PeerWaitBox>();
    peerWaitBox_ = box;
    // The wait holds the stream; closing the connection ends it.
    socket_.async_wait(
        asio::socket_base::wait_read,
        asio::bind_cancellation_slot(
            peerWaitSignal_.slot(), [self = shared_from_this(), box](const std::error_code& error) {
                self->peerWaitBox_.reset();
                if (auto joiner = std::move(box->joiner)) {
                    // A receive waits on this: it reads what came.
                    joiner->complete(error);
                    return;
                }
                if (!error) {
                    self->peerReady();
                }
            }));
}

void NetworkStream::peerReady() {
    if (cancelled_ || !peerEnd_) {
        // Nobody watches: the readiness was for the owner's next receive.
        return;
    }
    char byte = 0;
    const auto count = ::recv(socket_.native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (count > 0) {
        // The peer has more to say; nothing more can be learnt without reading it.
        peerEnd_ = nullptr;
        return;
    }
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        awaitPeer();
        return;
    }
    // The end of the stream, or a reset.
    const auto onEnd = std::exchange(peerEnd_, nullptr);
    onEnd();
}

void NetworkStream::cancel() {
    asio::dispatch(executor_, [self = shared_from_this()] { self->closeNow(); });
}

void NetworkStream::endReceiving() {
    if (tls_) {
        // A TLS stream cannot be left half read: it ends at once.
        closeNow();
        return;
    }
    // Nothing more is read from this connection, but a plain one can still carry the owner's
    // last reply before the owner closes it.
    receiveCancelled_ = true;
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_receive, ignored);
    // No receive follows that the timer could limit.
    receiveTimer_.cancel();
    receiveTimerExpiry_.reset();
}

void NetworkStream::closeNow() {
    cancelled_ = true;
    if (connectTimer_ != nullptr) {
        // A start() under way ends now instead of at its limit.
        connectTimer_->cancel();
    }
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    receiveTimer_.cancel();
    receiveTimerExpiry_.reset();
}

} // namespace meterly::proxy
