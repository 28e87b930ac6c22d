#include "proxy/UpstreamResolver.hpp"

#include <asio/any_io_executor.hpp>
#include <asio/error.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <mutex>
#include <optional>
#include <thread>

namespace meterly::proxy {

std::vector<asio::ip::tcp::endpoint> SystemUpstreamResolver::resolve(const std::string& host,
                                                                     std::uint16_t port,
                                                                     std::error_code& error) const {
    // A synchronous lookup runs on the calling thread; the context is only what Asio's resolver
    // needs to exist and is never run.
    asio::io_context context;
    asio::ip::tcp::resolver resolver(context);
    const auto results = resolver.resolve(host, std::to_string(port), error);
    std::vector<asio::ip::tcp::endpoint> addresses;
    if (!error) {
        for (const auto& entry : results) {
            addresses.push_back(entry.endpoint());
        }
    }
    return addresses;
}

namespace {

// What the waiting coroutine and the worker share. The worker touches the waiter's executor only
// under the lock and only while `loop` is set; the waiter clears it, under the lock, as its wait
// ends in any way (answer, cancellation, its frame destroyed with the context).
struct PendingLookup {
    std::mutex lock;
    std::optional<asio::any_io_executor> loop;
    // The waiter's wake-up timer, cancelled on the loop when the answer is in.
    asio::steady_timer* wake = nullptr;
    bool answered = false;
    UpstreamAddresses answer;
};

struct EndOfWait {
    std::shared_ptr<PendingLookup> pending;
    ~EndOfWait() {
        const std::lock_guard guard(pending->lock);
        pending->loop.reset();
        pending->wake = nullptr;
    }
};

} // namespace

asio::awaitable<UpstreamAddresses> resolveOnWorker(std::shared_ptr<const UpstreamResolver> resolver,
                                                   std::string host, std::uint16_t port) {
    const auto executor = co_await asio::this_coro::executor;
    asio::steady_timer wake(executor, asio::steady_timer::time_point::max());
    auto pending = std::make_shared<PendingLookup>();
    pending->loop = executor;
    pending->wake = &wake;
    const EndOfWait endOfWait{pending};
    try {
        std::thread([pending, resolver = std::move(resolver), host = std::move(host), port] {
            UpstreamAddresses answer;
            answer.second = resolver->resolve(host, port, answer.first);
            const std::lock_guard guard(pending->lock);
            if (!pending->loop) {
                return; // the waiter has given up: the answer is dropped
            }
            pending->answer = std::move(answer);
            pending->answered = true;
            asio::post(*pending->loop, [pending] {
                const std::lock_guard wakeGuard(pending->lock);
                if (pending->wake != nullptr) {
                    pending->wake->cancel();
                }
            });
        }).detach();
    } catch (const std::system_error& error) {
        // No thread to be had: the lookup fails as the system reports it.
        co_return UpstreamAddresses{error.code(), {}};
    }
    // Ends when the answer's handler cancels the timer or the coroutine is cancelled.
    co_await wake.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
    const std::lock_guard guard(pending->lock);
    if (!pending->answered) {
        co_return UpstreamAddresses{asio::error::operation_aborted, {}};
    }
    co_return std::move(pending->answer);
}

} // namespace meterly::proxy
