#pragma once

// Scripted stand-ins for a connection, and a way to run a coroutine to its end, for the tests of
// the reader, the relay and whatever sits on top of them.
#include "proxy/ByteStream.hpp"
#include "proxy/ProxyError.hpp"

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <chrono>
#include <deque>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace meterly::proxy::testing {

inline Bytes bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}
inline std::string text(ByteView data) {
    return std::string(asText(data));
}

// Runs the coroutine on a fresh io_context until it ends; returns its result or throws its error.
// A coroutine still running after a generous bound fails the test instead of hanging it.
template <typename T>
T runToEnd(asio::awaitable<T> operation) {
    asio::io_context context;
    bool finished = false;
    std::exception_ptr error;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
    if constexpr (std::is_void_v<T>) {
        asio::co_spawn(context, std::move(operation), [&](std::exception_ptr failure) {
            finished = true;
            error = failure;
        });
    } else {
        asio::co_spawn(context, std::move(operation), [&](std::exception_ptr failure, T value) {
            finished = true;
            error = failure;
            if (!failure) {
                result.emplace(std::move(value));
            }
        });
    }
    context.run_for(std::chrono::seconds(60));
    if (!finished) {
        throw std::runtime_error("the coroutine did not finish");
    }
    if (error) {
        std::rethrow_exception(error);
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*result);
    }
}

// Hands out one scripted step per receive: bytes (possibly empty), the end of the stream, an
// error, or no answer at all until the receive is cancelled. An action step runs when it is
// reached and the same receive goes on with the next step. After the script it reports the end.
class FakeSource final : public ByteSource {
public:
    struct End {};
    struct Silence {};
    using Action = std::function<void()>;
    using Step = std::variant<Bytes, End, ProxyError, Silence, Action>;

    FakeSource() = default;
    explicit FakeSource(std::vector<Step> steps) : steps_(steps.begin(), steps.end()) {}

    FakeSource& then(std::string_view data) { return then(Step{bytes(data)}); }
    FakeSource& then(Step step) {
        steps_.push_back(std::move(step));
        return *this;
    }

    asio::awaitable<std::optional<Bytes>> receive() override {
        ++receives_;
        while (!steps_.empty() && std::holds_alternative<Action>(steps_.front())) {
            Action action = std::get<Action>(std::move(steps_.front()));
            steps_.pop_front();
            action();
        }
        if (steps_.empty()) {
            co_return std::nullopt;
        }
        Step step = std::move(steps_.front());
        steps_.pop_front();
        if (auto* data = std::get_if<Bytes>(&step)) {
            co_return std::move(*data);
        }
        if (auto* error = std::get_if<ProxyError>(&step)) {
            throw *error;
        }
        if (std::holds_alternative<Silence>(step)) {
            asio::steady_timer never(co_await asio::this_coro::executor,
                                     std::chrono::steady_clock::time_point::max());
            co_await never.async_wait(asio::use_awaitable);
            ++answeredSilences_;
        }
        co_return std::nullopt;
    }

    int receives() const { return receives_; }
    // Silent receives that ended without being cancelled (there should be none).
    int answeredSilences() const { return answeredSilences_; }

private:
    std::deque<Step> steps_;
    int receives_ = 0;
    int answeredSilences_ = 0;
};

// Records every send; optionally fails the send with the given index.
class FakeSink final : public ByteSink {
public:
    asio::awaitable<void> send(ByteView data) override {
        if (failAt_ && *failAt_ == sends_.size()) {
            throw ProxyError::network(ProxyFailure::connectionClosed);
        }
        sends_.emplace_back(data.begin(), data.end());
        co_return;
    }

    void failAt(std::size_t index) { failAt_ = index; }
    const std::vector<Bytes>& sends() const { return sends_; }
    std::string all() const {
        std::string joined;
        for (const auto& piece : sends_) {
            joined += text(piece);
        }
        return joined;
    }
    std::vector<std::size_t> sizes() const {
        std::vector<std::size_t> result;
        for (const auto& piece : sends_) {
            result.push_back(piece.size());
        }
        return result;
    }

private:
    std::vector<Bytes> sends_;
    std::optional<std::size_t> failAt_;
};

} // namespace meterly::proxy::testing
