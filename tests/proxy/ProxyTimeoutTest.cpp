#include "proxy/ProxyTimeout.hpp"

#include "FakeByteStreams.hpp"

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/post.hpp>
#include <gtest/gtest.h>

namespace meterly::proxy {
namespace {

using namespace std::chrono_literals;
using testing::runToEnd;

asio::awaitable<int> answer(int value) {
    co_return value;
}

asio::awaitable<int> fail() {
    throw ProxyError::network(ProxyFailure::connectionRefused);
    co_return 0;
}

// Waits until cancelled; notes that it was cancelled and had ended before the race returned.
asio::awaitable<int> waitForever(bool& ended) {
    asio::steady_timer never(co_await asio::this_coro::executor,
                             std::chrono::steady_clock::time_point::max());
    try {
        co_await never.async_wait(asio::use_awaitable);
    } catch (...) {
        ended = true;
        throw;
    }
    co_return -1;
}

asio::awaitable<bool> timeOutAndCheck(bool& ended) {
    try {
        co_await withProxyTimeout(5ms, waitForever(ended));
    } catch (const ProxyError& error) {
        EXPECT_EQ(error, ProxyError::timedOut());
        // The cancelled operation has already finished: nothing of it runs on afterwards.
        co_return ended;
    }
    co_return false;
}

TEST(ProxyTimeoutTest, ReturnsTheResultOfAnOperationThatEndsFirst) {
    EXPECT_EQ(runToEnd(withProxyTimeout(1h, answer(42))), 42);
}

TEST(ProxyTimeoutTest, AFailureEndsTheRaceAtOnceWithItsOwnError) {
    // The limit is far beyond the test's bound: only the failure itself can end the race.
    try {
        runToEnd(withProxyTimeout(24h, fail()));
        ADD_FAILURE() << "no error";
    } catch (const ProxyError& error) {
        EXPECT_EQ(error, ProxyError::network(ProxyFailure::connectionRefused));
    }
}

TEST(ProxyTimeoutTest, AnOperationThatNeverEndsTimesOutAndIsCancelledFirst) {
    bool ended = false;
    EXPECT_TRUE(runToEnd(timeOutAndCheck(ended)));
}

TEST(ProxyTimeoutTest, CancellingTheCallerEndsTheRace) {
    asio::io_context context;
    asio::cancellation_signal signal;
    bool ended = false;
    std::optional<std::exception_ptr> outcome;
    asio::co_spawn(context, withProxyTimeout(24h, waitForever(ended)),
                   asio::bind_cancellation_slot(
                       signal.slot(), [&](std::exception_ptr error, int) { outcome = error; }));
    asio::post(context, [&] { signal.emit(asio::cancellation_type::terminal); });
    context.run_for(60s);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_TRUE(*outcome != nullptr);
    EXPECT_TRUE(ended);
}

} // namespace
} // namespace meterly::proxy
