#include "proxy/UpstreamConnector.hpp"

#include "proxy/NetworkStream.hpp"
#include "proxy/ProxyError.hpp"
#include "proxy/UpstreamResolver.hpp"
#include "support/LocalHTTPServer.hpp"
#include "support/LocalTLSServer.hpp"
#include "support/ScopedEnvironment.hpp"

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_future.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sstream>

namespace meterly::proxy {
namespace {

using asio::ip::tcp;
using namespace std::chrono_literals;
using testing::LocalTLSServer;
using testing::ScopedEnvironment;

// A fixed answer in place of the system's lookup.
class FixedResolver final : public UpstreamResolver {
public:
    explicit FixedResolver(std::vector<tcp::endpoint> addresses)
        : addresses_(std::move(addresses)) {}
    std::vector<tcp::endpoint> resolve(const std::string&, std::uint16_t,
                                       std::error_code&) const override {
        return addresses_;
    }

private:
    std::vector<tcp::endpoint> addresses_;
};

// An address on 127.0.0.1 that never answers, like a route that drops everything: a listener that
// never accepts and whose queue of one connection is already full, so the system drops every
// further connection request without a reply. (Addresses outside this machine are no good here:
// some sandboxes answer every one of them.)
class BlackHole {
public:
    BlackHole() {
        listener_.open(tcp::v4());
        listener_.bind({asio::ip::address_v4::loopback(), 0});
        listener_.listen(0);
        filler_.connect(listener_.local_endpoint());
    }

    tcp::endpoint endpoint() const { return listener_.local_endpoint(); }

    // Connections on this machine that are still trying to reach the black hole (their request
    // sent, no reply): those of this process, since nobody else knows the port.
    int attemptsWaiting() const {
        char remote[32];
        std::snprintf(remote, sizeof remote, "0100007F:%04X", endpoint().port());
        std::ifstream table("/proc/net/tcp");
        std::string line;
        std::getline(table, line);
        int waiting = 0;
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string slot, local, peer, state;
            fields >> slot >> local >> peer >> state;
            waiting += peer == remote && state == "02" ? 1 : 0; // 02: SYN_SENT
        }
        return waiting;
    }

private:
    asio::io_context io_;
    tcp::acceptor listener_{io_};
    tcp::socket filler_{io_};
};

std::size_t openDescriptors() {
    const std::filesystem::directory_iterator entries("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

tcp::endpoint loopback(std::uint16_t port) {
    return {asio::ip::address_v4::loopback(), port};
}

UpstreamEndpoint endpointAt(std::vector<tcp::endpoint> addresses, ProxyDuration connectTimeout,
                            ProxyDuration attemptDelay) {
    UpstreamEndpoint endpoint;
    endpoint.host = "localhost";
    endpoint.port = 443; // not used: the resolver's addresses carry their own ports
    endpoint.resolver = std::make_shared<FixedResolver>(std::move(addresses));
    endpoint.tlsContext = makeUpstreamTLSContext();
    endpoint.connectTimeout = connectTimeout;
    endpoint.attemptDelay = attemptDelay;
    return endpoint;
}

// What start() threw; nullopt when it connected. The loop runs only until start() has ended, so
// that attempts it left running would still be there to see.
std::optional<ProxyError> startOutcome(asio::io_context& io, NetworkStream& stream) {
    auto done = asio::co_spawn(io, stream.start(), asio::use_future);
    while (done.wait_for(0s) != std::future_status::ready && io.run_one() > 0) {
    }
    io.restart();
    try {
        done.get();
    } catch (const ProxyError& error) {
        return error;
    }
    return std::nullopt;
}

std::string exchangeHello(asio::io_context& io, std::shared_ptr<NetworkStream> stream) {
    auto done = asio::co_spawn(
        io,
        [](std::shared_ptr<NetworkStream> s) -> asio::awaitable<std::string> {
            co_await s->send(asBytes("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
            std::string all;
            while (all.find("hello") == std::string::npos) {
                auto bytes = co_await s->receive();
                if (!bytes) {
                    break;
                }
                all += asText(*bytes);
            }
            co_return all;
        }(std::move(stream)),
        asio::use_future);
    io.run();
    io.restart();
    return done.get();
}

void answerHello(testing::UpstreamConnection& connection, const testing::HTTPMessage&) {
    connection.write(testing::cannedResponse(200, "OK", {}, "hello"));
}

TEST(UpstreamConnectorTest, AlternatesAddressFamiliesIPv6First) {
    const tcp::endpoint a4(asio::ip::make_address("192.0.2.1"), 443);
    const tcp::endpoint b4(asio::ip::make_address("192.0.2.2"), 443);
    const tcp::endpoint c4(asio::ip::make_address("192.0.2.3"), 443);
    const tcp::endpoint a6(asio::ip::make_address("2001:db8::1"), 443);
    const tcp::endpoint b6(asio::ip::make_address("2001:db8::2"), 443);
    const struct {
        std::vector<tcp::endpoint> resolved;
        std::vector<tcp::endpoint> tried;
    } cases[] = {
        {{a4, b4, a6, b6}, {a6, a4, b6, b4}},
        {{a6, b6, a4}, {a6, a4, b6}},
        {{a4, a6, b4, c4}, {a6, a4, b4, c4}},
        {{b4, a4}, {b4, a4}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UpstreamConnector::attemptOrder(c.resolved), c.tried);
    }
}

TEST(UpstreamConnectorTest, AFirstAddressThatNeverAnswersGivesWayToTheNext) {
    LocalTLSServer server(answerHello);
    ScopedEnvironment trust("SSL_CERT_FILE", server.certificateFile().string());
    BlackHole blackHole;
    asio::io_context io;
    // The first address alone would use up the whole limit.
    auto stream = NetworkStream::outgoing(
        io.get_executor(), endpointAt({blackHole.endpoint(), loopback(server.port())}, 5s, 50ms),
        32768);
    ASSERT_EQ(startOutcome(io, *stream), std::nullopt);
    // The attempt that lost is closed, not left trying.
    EXPECT_EQ(blackHole.attemptsWaiting(), 0);
    EXPECT_EQ(exchangeHello(io, stream), testing::cannedResponse(200, "OK", {}, "hello"));
    stream->cancel();
    io.run();
    EXPECT_EQ(server.connectionsAccepted(), 1);
}

TEST(UpstreamConnectorTest, AFailedAttemptStartsTheNextAtOnce) {
    LocalTLSServer server(answerHello);
    ScopedEnvironment trust("SSL_CERT_FILE", server.certificateFile().string());
    testing::ReservedPort refusing;
    asio::io_context io;
    // Waiting out the delay would run into the limit.
    auto stream = NetworkStream::outgoing(
        io.get_executor(), endpointAt({loopback(refusing.port()), loopback(server.port())}, 3s, 1h),
        32768);
    EXPECT_EQ(startOutcome(io, *stream), std::nullopt);
    stream->cancel();
    io.run();
}

TEST(UpstreamConnectorTest, WhenEveryAttemptFailsTheLastFailureIsReported) {
    testing::ReservedPort first;
    testing::ReservedPort second;
    asio::io_context io;
    auto stream = NetworkStream::outgoing(
        io.get_executor(), endpointAt({loopback(first.port()), loopback(second.port())}, 3s, 1h),
        1024);
    EXPECT_EQ(startOutcome(io, *stream), ProxyError::network(ProxyFailure::connectionRefused));

    auto nothing = NetworkStream::outgoing(io.get_executor(), endpointAt({}, 3s, 1h), 1024);
    EXPECT_EQ(startOutcome(io, *nothing), ProxyError::network(ProxyFailure::dnsFailure));
}

TEST(UpstreamConnectorTest, AddressesThatAllStallEndInTheTimeOutWithEveryAttemptClosed) {
    BlackHole first;
    BlackHole second;
    asio::io_context io;
    auto stream = NetworkStream::outgoing(
        io.get_executor(), endpointAt({first.endpoint(), second.endpoint()}, 300ms, 50ms), 1024);
    const auto before = openDescriptors();
    EXPECT_EQ(startOutcome(io, *stream), ProxyError::timedOut());
    EXPECT_EQ(first.attemptsWaiting() + second.attemptsWaiting(), 0);
    EXPECT_EQ(openDescriptors(), before);
}

TEST(UpstreamConnectorTest, CancelEndsAStartThatIsStillTrying) {
    BlackHole blackHole;
    asio::io_context io;
    auto stream = NetworkStream::outgoing(
        io.get_executor(), endpointAt({blackHole.endpoint(), blackHole.endpoint()}, 60s, 20ms),
        1024);
    // The server stopping while a session connects.
    asio::steady_timer stop(io, 100ms);
    stop.async_wait([stream](const std::error_code&) { stream->cancel(); });
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(startOutcome(io, *stream), ProxyError::cancelled());
    // It ended when it was cancelled, not at its limit.
    EXPECT_LT(std::chrono::steady_clock::now() - began, 30s);
    EXPECT_EQ(blackHole.attemptsWaiting(), 0);
}

} // namespace
} // namespace meterly::proxy
