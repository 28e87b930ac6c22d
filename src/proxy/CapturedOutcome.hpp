#pragma once

#include "proxy/ProxyFailure.hpp"

#include <asio/awaitable.hpp>
#include <exception>
#include <optional>
#include <utility>

namespace meterly::proxy {

// A step's outcome held as a value: what it returned, or the error it ended with. Lets a caller
// try a step, keep its failure and decide what to do next, and lets a failing step count as
// finished in a race.
template <typename T>
struct CapturedOutcome {
    std::optional<T> value;
    std::exception_ptr error;

    // The failure the error stands for; nullopt when the step succeeded.
    std::optional<ProxyFailure> failure() const {
        return error ? std::optional<ProxyFailure>(ProxyFailure::from(error)) : std::nullopt;
    }
};

template <>
struct CapturedOutcome<void> {
    std::exception_ptr error;

    std::optional<ProxyFailure> failure() const {
        return error ? std::optional<ProxyFailure>(ProxyFailure::from(error)) : std::nullopt;
    }
};

// Runs the step to its end and returns its outcome; never throws what the step throws.
template <typename T>
asio::awaitable<CapturedOutcome<T>> captureOutcome(asio::awaitable<T> step) {
    CapturedOutcome<T> outcome;
    try {
        outcome.value.emplace(co_await std::move(step));
    } catch (...) {
        outcome.error = std::current_exception();
    }
    co_return outcome;
}

inline asio::awaitable<CapturedOutcome<void>> captureOutcome(asio::awaitable<void> step) {
    CapturedOutcome<void> outcome;
    try {
        co_await std::move(step);
    } catch (...) {
        outcome.error = std::current_exception();
    }
    co_return outcome;
}

} // namespace meterly::proxy
