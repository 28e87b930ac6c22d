#pragma once

#include "proxy/BodyFraming.hpp"
#include "proxy/ByteStream.hpp"
#include "proxy/HTTPStreamReader.hpp"

#include <asio/awaitable.hpp>
#include <cstddef>

namespace meterly::proxy {

// Copies exactly one message body from a reader to a sink, by its framing, without ever holding
// the whole body. Each piece is sent as soon as it was read, and the send is awaited before the
// next read. A chunked body goes through unchanged; the bytes after the body stay in the reader.
class BodyRelay {
public:
    BodyRelay() = delete;

    // Throws ProxyError::peerClosed() when the stream ends before a body of known length or a
    // chunked body is complete, ProxyError::invalidFraming() when a chunked body breaks the
    // grammar (the offending piece is not sent), and the reader's or the sink's errors unchanged.
    // The reader and the sink must outlive the relay.
    static asio::awaitable<void> relay(BodyFraming framing, HTTPStreamReader& reader,
                                       ByteSink& sink, std::size_t chunkSize);
};

} // namespace meterly::proxy
