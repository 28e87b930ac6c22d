#include "proxy/BodyRelay.hpp"

#include "proxy/ChunkedBodyScanner.hpp"
#include "proxy/ProxyError.hpp"

#include <algorithm>
#include <cstdint>

namespace meterly::proxy {

namespace {

asio::awaitable<void> relayLength(std::int64_t length, HTTPStreamReader& reader, ByteSink& sink,
                                  std::size_t chunkSize) {
    auto due = static_cast<std::uint64_t>(length);
    while (due > 0) {
        const auto limit = static_cast<std::size_t>(std::min<std::uint64_t>(due, chunkSize));
        const std::optional<Bytes> piece = co_await reader.nextBodyBytes(limit);
        if (!piece) {
            throw ProxyError::peerClosed();
        }
        due -= piece->size();
        co_await sink.send(*piece);
    }
}

asio::awaitable<void> relayChunked(HTTPStreamReader& reader, ByteSink& sink,
                                   std::size_t chunkSize) {
    ChunkedBodyScanner scanner;
    while (true) {
        const std::optional<Bytes> piece = co_await reader.nextBodyBytes(chunkSize);
        if (!piece) {
            throw ProxyError::peerClosed();
        }
        const std::size_t count = scanner.consume(*piece);
        const ByteView bytes(*piece);
        co_await sink.send(bytes.first(count));
        if (count < bytes.size()) {
            reader.pushBack(bytes.subspan(count));
        }
        if (scanner.isComplete()) {
            co_return;
        }
    }
}

asio::awaitable<void> relayUntilClose(HTTPStreamReader& reader, ByteSink& sink,
                                      std::size_t chunkSize) {
    while (true) {
        const std::optional<Bytes> piece = co_await reader.nextBodyBytes(chunkSize);
        if (!piece) {
            co_return;
        }
        co_await sink.send(*piece);
    }
}

} // namespace

asio::awaitable<void> BodyRelay::relay(BodyFraming framing, HTTPStreamReader& reader,
                                       ByteSink& sink, std::size_t chunkSize) {
    // A piece of no bytes would never move a body forward.
    chunkSize = std::max<std::size_t>(chunkSize, 1);
    switch (framing.kind()) {
    case BodyFraming::Kind::none:
        co_return;
    case BodyFraming::Kind::contentLength:
        if (framing.length() >= 1) {
            co_await relayLength(framing.length(), reader, sink, chunkSize);
        }
        co_return;
    case BodyFraming::Kind::chunked:
        co_await relayChunked(reader, sink, chunkSize);
        co_return;
    case BodyFraming::Kind::untilClose:
        co_await relayUntilClose(reader, sink, chunkSize);
        co_return;
    }
}

} // namespace meterly::proxy
