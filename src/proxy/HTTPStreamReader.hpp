#pragma once

#include "proxy/ByteStream.hpp"
#include "proxy/Bytes.hpp"
#include "proxy/ProxyConfiguration.hpp"

#include <asio/awaitable.hpp>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

namespace meterly::proxy {

// The buffered reader through which HTTP/1.1 messages are read from one connection: it cuts a
// head off at its blank line, hands out body bytes in bounded pieces and takes surplus bytes
// back. Bytes stay buffered from one message to the next (a pipelined request, the bytes after a
// body). Every receive is limited through the source's receiveWithin (withProxyTimeout unless the
// source keeps a deadline of its own). Used by one coroutine at a time.
class HTTPStreamReader {
public:
    // The monotonic clock the head deadline is measured on.
    using Now = std::function<std::chrono::steady_clock::time_point()>;

    // `timeout` limits every receive for which a read gives no limit of its own.
    HTTPStreamReader(std::shared_ptr<ByteSource> source, ProxyDuration timeout,
                     Now now = std::chrono::steady_clock::now);

    // The next message head, its blank line included; the bytes after it stay buffered. Throws
    // ProxyError::headTooLarge() when the head, blank line included, is longer than
    // `maximumSize` bytes (known once more than that are buffered without its end),
    // ProxyError::timedOut() when a receive exceeds its limit or the head is not complete within
    // `completionTimeout` of its first bytes, ProxyError::malformedHead() when the stream ends
    // inside a head and ProxyError::peerClosed() when it ends before one.
    asio::awaitable<Bytes> readHead(std::size_t maximumSize,
                                    std::optional<ProxyDuration> completionTimeout);

    // At most `limit` bytes: buffered bytes first, else those of one receive. nullopt at the end
    // of the stream.
    asio::awaitable<std::optional<Bytes>> nextBodyBytes(std::size_t limit);

    // Puts bytes back in front of the buffered ones.
    void pushBack(ByteView bytes);

    std::size_t bufferedCount() const { return buffer_.size() - start_; }

private:
    asio::awaitable<bool> fill(std::optional<ProxyDuration> limit);
    ByteView buffered() const { return ByteView(buffer_).subspan(start_); }
    Bytes take(std::size_t count);

    std::shared_ptr<ByteSource> source_;
    ProxyDuration timeout_;
    Now now_;
    // Bytes received and not yet handed out start at start_.
    Bytes buffer_;
    std::size_t start_ = 0;
    bool reachedEOF_ = false;
};

} // namespace meterly::proxy
