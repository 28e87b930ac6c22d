#pragma once

#include "proxy/Bytes.hpp"
#include "proxy/ProxyConfiguration.hpp"

#include <asio/awaitable.hpp>
#include <optional>

namespace meterly::proxy {

// The only view of a connection that the HTTP reader and the body relay have, so that tests can
// drive them with fakes. Failures are thrown as ProxyError.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The next bytes of the stream; nullopt at its end. An empty, present value means "no bytes
    // yet", never the end.
    virtual asio::awaitable<std::optional<Bytes>> receive() = 0;

    // receive(), waiting at most `limit` for it: throws ProxyError::timedOut() when the limit
    // passes first, and the source is then not asked again. By default the receive is raced
    // with withProxyTimeout; a source with a deadline of its own may do it more cheaply.
    virtual asio::awaitable<std::optional<Bytes>> receiveWithin(ProxyDuration limit);
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Returns once the bytes were handed over. A connection ends by being cancelled, never by a
    // send.
    virtual asio::awaitable<void> send(ByteView bytes) = 0;
};

} // namespace meterly::proxy
