#include "proxy/ByteStream.hpp"

#include "proxy/ProxyTimeout.hpp"

namespace meterly::proxy {

asio::awaitable<std::optional<Bytes>> ByteSource::receiveWithin(ProxyDuration limit) {
    co_return co_await withProxyTimeout(limit, receive());
}

} // namespace meterly::proxy
