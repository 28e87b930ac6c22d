#pragma once

#include "proxy/CapturedOutcome.hpp"
#include "proxy/ProxyConfiguration.hpp"
#include "proxy/ProxyError.hpp"

#include <asio/awaitable.hpp>
#include <asio/error.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace meterly::proxy {

// Runs the operation against a timer of `limit` on the monotonic clock. Returns the operation's
// result, or throws its error, when it ends first; throws ProxyError::timedOut() when the timer
// ends first. The loser is cancelled and awaited before this returns, so two receives on one
// stream never overlap. When the caller itself is cancelled and the timer ends first because of
// that, the error is ProxyError::cancelled().
template <typename T>
asio::awaitable<T> withProxyTimeout(ProxyDuration limit, asio::awaitable<T> operation) {
    static_assert(!std::is_void_v<T>, "only operations with a result are raced");
    using namespace asio::experimental::awaitable_operators;

    asio::steady_timer timer(co_await asio::this_coro::executor, limit);
    // The operation's outcome is held as a value, so that a failing operation still counts as
    // finished and ends the race at once instead of leaving the timer to run out.
    auto winner = co_await (captureOutcome(std::move(operation)) ||
                            timer.async_wait(asio::experimental::as_tuple(asio::use_awaitable)));
    if (winner.index() == 0) {
        auto& outcome = std::get<0>(winner);
        if (outcome.error) {
            std::rethrow_exception(outcome.error);
        }
        co_return std::move(*outcome.value);
    }
    const auto [error] = std::get<1>(winner);
    if (error == asio::error::operation_aborted) {
        throw ProxyError::cancelled();
    }
    throw ProxyError::timedOut();
}

} // namespace meterly::proxy
