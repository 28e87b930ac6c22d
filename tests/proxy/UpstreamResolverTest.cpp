#include "proxy/UpstreamResolver.hpp"

#include "proxy/NetworkStream.hpp"
#include "proxy/ProxyError.hpp"

#include <asio/co_spawn.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_future.hpp>
#include <future>
#include <gtest/gtest.h>

namespace meterly::proxy {
namespace {

using asio::ip::tcp;
using namespace std::chrono_literals;

// A lookup that hangs until the test lets it go (or gives up after a while, so that a wait that
// is not bounded shows as a failed lookup instead of a hung test). Tells when the last worker
// has let go of it.
class HangingResolver final : public UpstreamResolver {
public:
    explicit HangingResolver(std::promise<void> released) : released_(std::move(released)) {}
    ~HangingResolver() override { released_.set_value(); }

    std::vector<tcp::endpoint> resolve(const std::string&, std::uint16_t,
                                       std::error_code& error) const override {
        const auto answer = answer_; // a copy of its own for each waiting thread
        if (answer.wait_for(10s) != std::future_status::ready) {
            error = asio::error::host_not_found;
            return {};
        }
        return {tcp::endpoint(asio::ip::address_v4::loopback(), 9)};
    }

    void answer() { answerNow_.set_value(); }

private:
    std::promise<void> released_;
    std::promise<void> answerNow_;
    std::shared_future<void> answer_{answerNow_.get_future().share()};
};

class FixedResolver final : public UpstreamResolver {
public:
    FixedResolver(std::vector<tcp::endpoint> addresses, std::error_code error)
        : addresses_(std::move(addresses)), error_(error) {}
    std::vector<tcp::endpoint> resolve(const std::string& host, std::uint16_t port,
                                       std::error_code& error) const override {
        asked_ = host + ":" + std::to_string(port);
        error = error_;
        return addresses_;
    }
    mutable std::string asked_;

private:
    std::vector<tcp::endpoint> addresses_;
    std::error_code error_;
};

TEST(UpstreamResolverTest, TheWorkersAnswerComesBack) {
    const tcp::endpoint address(asio::ip::make_address("2001:db8::1"), 443);
    const struct {
        std::vector<tcp::endpoint> addresses;
        std::error_code error;
    } cases[] = {
        {{address}, {}},
        {{}, asio::error::host_not_found},
    };
    for (const auto& c : cases) {
        auto resolver = std::make_shared<FixedResolver>(c.addresses, c.error);
        asio::io_context io;
        auto answer =
            asio::co_spawn(io, resolveOnWorker(resolver, "api.example", 443), asio::use_future);
        io.run();
        EXPECT_EQ(answer.get(), UpstreamAddresses(c.error, c.addresses));
        EXPECT_EQ(resolver->asked_, "api.example:443");
    }
}

TEST(UpstreamResolverTest, ALookupThatNeverAnswersEndsAtTheConnectLimit) {
    std::promise<void> released;
    auto releasedNow = released.get_future();
    auto resolver = std::make_shared<HangingResolver>(std::move(released));
    {
        asio::io_context io;
        UpstreamEndpoint endpoint;
        endpoint.host = "api.example";
        endpoint.port = 443;
        endpoint.resolver = resolver;
        endpoint.connectTimeout = 100ms;
        auto stream = NetworkStream::outgoing(io.get_executor(), endpoint, 1024);
        auto done = asio::co_spawn(io, stream->start(), asio::use_future);
        io.run();
        try {
            done.get();
            ADD_FAILURE() << "start() succeeded";
        } catch (const ProxyError& error) {
            EXPECT_EQ(error, ProxyError::timedOut());
        }
    }
    // The answer arrives after the stream and its event loop are gone, and is dropped.
    resolver->answer();
    resolver.reset();
    releasedNow.wait();
}

TEST(UpstreamResolverTest, AnAnswerAfterTheWaitWasCancelledIsDropped) {
    std::promise<void> released;
    auto releasedNow = released.get_future();
    auto resolver = std::make_shared<HangingResolver>(std::move(released));
    asio::io_context io;
    using namespace asio::experimental::awaitable_operators;
    auto race = [](std::shared_ptr<HangingResolver> r) -> asio::awaitable<bool> {
        asio::steady_timer limit(co_await asio::this_coro::executor, 20ms);
        auto winner = co_await (resolveOnWorker(std::move(r), "api.example", 443) ||
                                limit.async_wait(asio::use_awaitable));
        co_return winner.index() == 1;
    };
    auto timedOut = asio::co_spawn(io, race(resolver), asio::use_future);
    io.run();
    EXPECT_TRUE(timedOut.get());
    resolver->answer();
    resolver.reset();
    releasedNow.wait();
    // The worker has finished without handing anything to the loop.
    io.restart();
    EXPECT_EQ(io.poll(), 0U);
}

} // namespace
} // namespace meterly::proxy
