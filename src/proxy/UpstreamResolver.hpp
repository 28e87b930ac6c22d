#pragma once

#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace meterly::proxy {

// Looks up the addresses of an upstream host. resolve() runs on a worker thread and may block for
// as long as the lookup takes; it must be safe to call from several threads at once.
class UpstreamResolver {
public:
    virtual ~UpstreamResolver() = default;

    // The host's addresses with `port`, in the order the resolver prefers them; an empty list and
    // `error` set when the lookup fails.
    virtual std::vector<asio::ip::tcp::endpoint>
    resolve(const std::string& host, std::uint16_t port, std::error_code& error) const = 0;
};

// The system's resolver (getaddrinfo, through Asio): only address families the machine has an
// address of are looked up.
class SystemUpstreamResolver final : public UpstreamResolver {
public:
    std::vector<asio::ip::tcp::endpoint> resolve(const std::string& host, std::uint16_t port,
                                                 std::error_code& error) const override;
};

using UpstreamAddresses = std::pair<std::error_code, std::vector<asio::ip::tcp::endpoint>>;

// Runs `resolver` for host:port on a worker thread of its own and waits for the answer on the
// awaiting coroutine's executor, which must run one handler at a time (an event loop of one thread
// or a strand). The wait can be cancelled like any operation of that coroutine (a race against a
// time limit): it then ends at once with operation_aborted, and the worker, which cannot be
// stopped, finishes on its own and drops its answer without touching the executor again, so the
// executor and its context may be gone by then.
asio::awaitable<UpstreamAddresses> resolveOnWorker(std::shared_ptr<const UpstreamResolver> resolver,
                                                   std::string host, std::uint16_t port);

} // namespace meterly::proxy
