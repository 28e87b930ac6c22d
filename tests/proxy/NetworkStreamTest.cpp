#include "proxy/NetworkStream.hpp"

#include "proxy/ProxyError.hpp"
#include "support/LocalHTTPServer.hpp"
#include "support/LocalTLSServer.hpp"
#include "support/ScopedEnvironment.hpp"

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/io_context.hpp>
#include <asio/read.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/use_future.hpp>
#include <asio/write.hpp>
#include <gtest/gtest.h>
#include <thread>

namespace meterly::proxy {
namespace {

using testing::LocalTLSServer;
using testing::ScopedEnvironment;
using testing::UpstreamConnection;

template <typename T>
T run(asio::io_context& io, asio::awaitable<T> work) {
    auto result = asio::co_spawn(io, std::move(work), asio::use_future);
    io.run();
    io.restart();
    return result.get();
}

void echoHello(UpstreamConnection& connection, const testing::HTTPMessage&) {
    connection.write(testing::cannedResponse(200, "OK", {}, "hello"));
}

UpstreamEndpoint endpointFor(std::uint16_t port, std::string host = "localhost") {
    UpstreamEndpoint endpoint;
    endpoint.host = std::move(host);
    endpoint.port = port;
    endpoint.tlsContext = makeUpstreamTLSContext();
    return endpoint;
}

ProxyError startFailure(asio::io_context& io, std::shared_ptr<NetworkStream> stream) {
    try {
        run(io, [](std::shared_ptr<NetworkStream> s) -> asio::awaitable<void> {
            co_await s->start();
        }(std::move(stream)));
    } catch (const ProxyError& error) {
        return error;
    }
    ADD_FAILURE() << "start() succeeded";
    return ProxyError::cancelled();
}

TEST(NetworkStreamTest, TalksTLSWithServerNameAndALPNToATrustedServer) {
    LocalTLSServer server(echoHello);
    ScopedEnvironment trust("SSL_CERT_FILE", server.certificateFile().string());
    for (const std::string host : {"localhost", "127.0.0.1"}) {
        asio::io_context io;
        auto stream =
            NetworkStream::outgoing(asio::make_strand(io), endpointFor(server.port(), host), 32768);
        const auto received =
            run(io, [](std::shared_ptr<NetworkStream> s) -> asio::awaitable<std::string> {
                co_await s->start();
                co_await s->send(asBytes("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
                std::string all;
                while (all.find("hello") == std::string::npos) {
                    auto bytes = co_await s->receive();
                    if (!bytes) {
                        break;
                    }
                    all += asText(*bytes);
                }
                s->cancel();
                co_return all;
            }(stream));
        EXPECT_EQ(received, testing::cannedResponse(200, "OK", {}, "hello")) << host;
    }
    // An address is never sent as a server name.
    EXPECT_EQ(server.serverNames(), std::vector<std::string>{"localhost"});
    const std::vector<std::string> http11{"http/1.1"};
    EXPECT_EQ(server.offeredProtocols(), (std::vector{http11, http11}));
}

TEST(NetworkStreamTest, RefusesServersThatFailVerification) {
    LocalTLSServer wrongName(echoHello, {"DNS:elsewhere.test"});
    LocalTLSServer trusted(echoHello);
    {
        ScopedEnvironment trust("SSL_CERT_FILE", wrongName.certificateFile().string());
        asio::io_context io;
        EXPECT_EQ(startFailure(io, NetworkStream::outgoing(io.get_executor(),
                                                           endpointFor(wrongName.port()), 1024)),
                  ProxyError::network(ProxyFailure::tlsFailure));
    }
    {
        // A certificate the trust store does not hold.
        ScopedEnvironment trust("SSL_CERT_FILE", wrongName.certificateFile().string());
        asio::io_context io;
        EXPECT_EQ(startFailure(io, NetworkStream::outgoing(io.get_executor(),
                                                           endpointFor(trusted.port()), 1024)),
                  ProxyError::network(ProxyFailure::tlsFailure));
    }
    EXPECT_TRUE(wrongName.requests().empty());
    EXPECT_TRUE(trusted.requests().empty());
}

TEST(NetworkStreamTest, ConnectingToAClosedPortIsRefused) {
    // Held for the whole test, so that no other test process can start listening on it.
    testing::ReservedPort closed;
    asio::io_context io;
    EXPECT_EQ(startFailure(
                  io, NetworkStream::outgoing(io.get_executor(), endpointFor(closed.port()), 1024)),
              ProxyError::network(ProxyFailure::connectionRefused));
}

// Two receives limited to 5 ms on a silent stream: what each threw.
asio::awaitable<std::vector<ProxyError>> twoShortReceives(std::shared_ptr<NetworkStream> s) {
    std::vector<ProxyError> seen;
    for (int i = 0; i < 2; ++i) {
        try {
            co_await s->receiveWithin(std::chrono::milliseconds(5));
        } catch (const ProxyError& error) {
            seen.push_back(error);
        }
    }
    co_return seen;
}

class AcceptedStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        client_.connect(acceptor_.local_endpoint());
        stream_ = NetworkStream::accepted(acceptor_.accept(), 8);
    }

    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_{io_, {asio::ip::address_v4::loopback(), 0}};
    asio::ip::tcp::socket client_{io_};
    std::shared_ptr<NetworkStream> stream_;
};

TEST_F(AcceptedStreamTest, ReceivesInBoundedPiecesThenTheEnd) {
    asio::write(client_, asio::buffer(std::string("0123456789")));
    client_.shutdown(asio::ip::tcp::socket::shutdown_send);
    const auto pieces =
        run(io_, [](std::shared_ptr<NetworkStream> s) -> asio::awaitable<std::vector<std::string>> {
            co_await s->start();
            std::vector<std::string> got;
            while (true) {
                auto bytes = co_await s->receive();
                if (!bytes) {
                    break;
                }
                got.emplace_back(asText(*bytes));
            }
            // The end stays the end.
            auto after = co_await s->receive();
            EXPECT_EQ(after, std::nullopt);
            co_return got;
        }(stream_));
    std::string joined;
    for (const auto& piece : pieces) {
        EXPECT_LE(piece.size(), 8U);
        joined += piece;
    }
    EXPECT_EQ(joined, "0123456789");
}

TEST_F(AcceptedStreamTest, CancelWakesAPendingReceiveAndFailsEveryLaterOperation) {
    asio::steady_timer later(io_);
    later.expires_after(std::chrono::milliseconds(1));
    later.async_wait([this](std::error_code) { stream_->cancel(); });
    const auto failures =
        run(io_, [](std::shared_ptr<NetworkStream> s) -> asio::awaitable<std::vector<ProxyError>> {
            std::vector<ProxyError> got;
            try {
                co_await s->receive();
            } catch (const ProxyError& error) {
                got.push_back(error);
            }
            try {
                co_await s->send(asBytes("x"));
            } catch (const ProxyError& error) {
                got.push_back(error);
            }
            try {
                co_await s->start();
            } catch (const ProxyError& error) {
                got.push_back(error);
            }
            co_return got;
        }(stream_));
    EXPECT_EQ(failures, (std::vector{ProxyError::cancelled(), ProxyError::cancelled(),
                                     ProxyError::cancelled()}));
    // The peer sees the connection end.
    char byte;
    std::error_code error;
    client_.read_some(asio::buffer(&byte, 1), error);
    EXPECT_EQ(error, asio::error::eof);
}

// How a stream took a cancellation that reached its receive after the receive's socket read had
// finished but before the receive went on: the cancellation finds no operation to end.
struct LateCancellation {
    // How the cancelled receive ended, and how a receive after it did: "cancelled", "bytes", "end",
    // "error" (another ProxyError) or the text of another exception.
    std::string receive;
    std::string nextReceive;
    bool sent = false; // whether a send after it went out
};

LateCancellation cancelAsTheReadCompletes(asio::io_context& io,
                                          const std::shared_ptr<NetworkStream>& stream,
                                          bool withLimit) {
    LateCancellation outcome;
    asio::cancellation_signal signal;
    bool started = false;
    asio::co_spawn(
        io,
        [](std::shared_ptr<NetworkStream> s, bool limited,
           bool& began) -> asio::awaitable<std::string> {
            began = true;
            try {
                if (limited) {
                    co_await s->receiveWithin(std::chrono::hours(1));
                } else {
                    co_await s->receive();
                }
            } catch (const ProxyError& error) {
                co_return error == ProxyError::cancelled() ? "cancelled" : "error";
            } catch (const std::exception& other) {
                co_return std::string("exception: ") + other.what();
            }
            co_return "bytes";
        }(stream, withLimit, started),
        asio::bind_cancellation_slot(signal.slot(),
                                     [&outcome](std::exception_ptr failure, std::string how) {
                                         outcome.receive = failure ? "exception" : how;
                                     }));
    // The turn that starts the receive runs it up to its read, which finds its bytes at once and
    // queues its completion; the cancellation comes before that completion runs.
    while (!started && io.run_one() > 0) {
    }
    signal.emit(asio::cancellation_type::terminal);
    std::tie(outcome.nextReceive, outcome.sent) = run(
        io, [](std::shared_ptr<NetworkStream> s) -> asio::awaitable<std::pair<std::string, bool>> {
            std::string how = "end";
            try {
                // The limit only matters when the cancellation was lost.
                if (co_await s->receiveWithin(std::chrono::seconds(10))) {
                    how = "bytes";
                }
            } catch (const ProxyError& error) {
                how = error == ProxyError::cancelled() ? "cancelled" : "error";
            } catch (const std::exception& other) {
                how = std::string("exception: ") + other.what();
            }
            bool sent = true;
            try {
                co_await s->send(asBytes("last words"));
            } catch (const ProxyError&) {
                sent = false;
            }
            co_return std::pair{how, sent};
        }(stream));
    return outcome;
}

TEST_F(AcceptedStreamTest, ACancellationThatComesAsTheReadCompletesStillEndsReceiving) {
    struct Case {
        const char* name;
        std::size_t readyReceives; // 8-byte receives before the cancelled one
        bool withLimit;
    };
    // After a short read the next one is handed to the loop, which finds the bytes at once and
    // queues the completion; after 15 ready reads the next ready one yields to the executor.
    for (const Case& each : {Case{"a read handed to the loop", 0, false},
                             Case{"a read handed to the loop, with a limit", 0, true},
                             Case{"a yield after ready reads", 15, false}}) {
        SCOPED_TRACE(each.name);
        client_ = asio::ip::tcp::socket(io_);
        client_.connect(acceptor_.local_endpoint());
        stream_ = NetworkStream::accepted(acceptor_.accept(), 8);
        if (each.readyReceives == 0) {
            asio::write(client_, asio::buffer(std::string("ab")));
            EXPECT_EQ(asText(run(io_, stream_->receive()).value()), "ab");
            asio::write(client_, asio::buffer(std::string("abc")));
        } else {
            asio::write(client_, asio::buffer(std::string((each.readyReceives + 1) * 8, 'x')));
            for (std::size_t i = 0; i < each.readyReceives; ++i) {
                run(io_, stream_->receive());
            }
        }
        const auto outcome = cancelAsTheReadCompletes(io_, stream_, each.withLimit);
        EXPECT_EQ(outcome.receive, "cancelled");
        EXPECT_EQ(outcome.nextReceive, "cancelled");
        EXPECT_TRUE(outcome.sent);
    }
}

// Races one receive (with a limit of its own far beyond the race's, or none) against a 1 ms timer
// that wins (nothing is ever sent), then reports how the stream takes a further receive and a
// send.
asio::awaitable<std::pair<bool, bool>> loseARace(std::shared_ptr<NetworkStream> s,
                                                 bool withLimit = false) {
    using namespace asio::experimental::awaitable_operators;
    asio::steady_timer deadline(co_await asio::this_coro::executor);
    deadline.expires_after(std::chrono::milliseconds(1));
    auto outcome =
        co_await ([](std::shared_ptr<NetworkStream> inner, bool limited) -> asio::awaitable<bool> {
            try {
                if (limited) {
                    co_await inner->receiveWithin(std::chrono::hours(1));
                } else {
                    co_await inner->receive();
                }
            } catch (const ProxyError&) {
            }
            co_return true;
        }(s, withLimit) || deadline.async_wait(asio::experimental::as_tuple(asio::use_awaitable)));
    EXPECT_EQ(outcome.index(), 1U);
    bool receiveFailed = false;
    try {
        co_await s->receive();
    } catch (const ProxyError& error) {
        receiveFailed = error == ProxyError::cancelled();
    }
    bool sent = true;
    try {
        co_await s->send(asBytes("last words"));
    } catch (const ProxyError& error) {
        EXPECT_EQ(error, ProxyError::cancelled());
        sent = false;
    }
    co_return std::pair{receiveFailed, sent};
}

TEST_F(AcceptedStreamTest, ALostRaceEndsReceivingButLeavesRoomForAReply) {
    const auto [receiveFailed, sent] = run(io_, loseARace(stream_));
    EXPECT_TRUE(receiveFailed);
    EXPECT_TRUE(sent);
    std::string reply(10, '\0');
    asio::read(client_, asio::buffer(reply));
    EXPECT_EQ(reply, "last words");
}

TEST_F(AcceptedStreamTest, ALostRaceReachesAReceiveThatHasALimitOfItsOwn) {
    const auto [receiveFailed, sent] = run(io_, loseARace(stream_, true));
    EXPECT_TRUE(receiveFailed);
    EXPECT_TRUE(sent);
}

TEST_F(AcceptedStreamTest, AReceiveWithALimitGetsLateBytesThenTimesOutOnSilence) {
    // The bytes come only once the first receive is waiting for them.
    asio::steady_timer later(io_);
    later.expires_after(std::chrono::milliseconds(2));
    later.async_wait([this](std::error_code) { asio::write(client_, asio::buffer("abc", 3)); });
    const auto [first, failures] =
        run(io_,
            [](std::shared_ptr<NetworkStream> s)
                -> asio::awaitable<std::pair<std::string, std::vector<ProxyError>>> {
                auto bytes = co_await s->receiveWithin(std::chrono::hours(1));
                const std::string got = bytes ? std::string(asText(*bytes)) : "end";
                std::vector<ProxyError> seen = co_await twoShortReceives(s);
                co_await s->send(asBytes("last words"));
                co_return std::pair{got, seen};
            }(stream_));
    // run() returning at all shows that no timer of the first receive was left behind.
    EXPECT_EQ(first, "abc");
    EXPECT_EQ(failures, (std::vector{ProxyError::timedOut(), ProxyError::cancelled()}));
    std::string reply(10, '\0');
    asio::read(client_, asio::buffer(reply));
    EXPECT_EQ(reply, "last words");
}

// A watch that ended before the peer sent again leaves its wait on the socket, and the next
// receive waits on that one: it still gets the bytes and the end, and its time limit, a lost race
// and cancel() each still end it.
TEST_F(AcceptedStreamTest, AReceiveAfterAWatchEndsAsAnyReceiveDoes) {
    enum class Then { bytesThenEnd, timeLimit, lostRace, lostRaceWithLimit, cancel };
    for (const Then then : {Then::bytesThenEnd, Then::timeLimit, Then::lostRace,
                            Then::lostRaceWithLimit, Then::cancel}) {
        SCOPED_TRACE(static_cast<int>(then));
        client_ = asio::ip::tcp::socket(io_);
        client_.connect(acceptor_.local_endpoint());
        stream_ = NetworkStream::accepted(acceptor_.accept(), 8);
        bool ended = false;
        stream_->watchPeer([&ended] { ended = true; });
        stream_->stopWatchingPeer();
        asio::steady_timer later(io_);
        later.expires_after(std::chrono::milliseconds(2));
        switch (then) {
        case Then::bytesThenEnd: {
            later.async_wait([this](std::error_code) {
                asio::write(client_, asio::buffer("abc", 3));
                client_.shutdown(asio::ip::tcp::socket::shutdown_send);
            });
            const auto got =
                run(io_, [](std::shared_ptr<NetworkStream> s) -> asio::awaitable<std::string> {
                    auto bytes = co_await s->receive();
                    std::string text = bytes ? std::string(asText(*bytes)) : "end";
                    const auto after = co_await s->receive();
                    co_return text + (after ? "" : "|end");
                }(stream_));
            EXPECT_EQ(got, "abc|end");
            break;
        }
        case Then::timeLimit:
            EXPECT_EQ(run(io_, twoShortReceives(stream_)),
                      (std::vector{ProxyError::timedOut(), ProxyError::cancelled()}));
            break;
        case Then::lostRace:
        case Then::lostRaceWithLimit: {
            const auto [receiveFailed, sent] =
                run(io_, loseARace(stream_, then == Then::lostRaceWithLimit));
            EXPECT_TRUE(receiveFailed);
            EXPECT_TRUE(sent);
            break;
        }
        case Then::cancel: {
            later.async_wait([this](std::error_code) { stream_->cancel(); });
            const auto failure =
                run(io_, [](std::shared_ptr<NetworkStream> s) -> asio::awaitable<std::string> {
                    try {
                        co_await s->receive();
                    } catch (const ProxyError& error) {
                        co_return error == ProxyError::cancelled() ? "cancelled" : "other";
                    }
                    co_return "received";
                }(stream_));
            EXPECT_EQ(failure, "cancelled");
            break;
        }
        }
        EXPECT_FALSE(ended);
    }
}

// A body far larger than the socket buffers: each send must wait for the reader, more than once,
// and the bytes must arrive whole and in order.
std::string patterned(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    }
    return text;
}

TEST_F(AcceptedStreamTest, ASendTheSocketCannotTakeAtOnceWaitsForTheReader) {
    const std::string body = patterned(32 << 20);
    std::string got;
    std::thread reader([&] {
        std::error_code error;
        std::string piece(1 << 16, '\0');
        while (got.size() < body.size()) {
            const auto count = client_.read_some(asio::buffer(piece), error);
            if (error) {
                break;
            }
            got.append(piece, 0, count);
        }
    });
    run(io_,
        [](std::shared_ptr<NetworkStream> s, const std::string& bytes) -> asio::awaitable<void> {
            co_await s->start();
            co_await s->send(asBytes(bytes));
            // The reader sees the end after the last byte, or early if the send gave up.
            s->cancel();
        }(stream_, body));
    reader.join();
    EXPECT_EQ(got.size(), body.size());
    EXPECT_TRUE(got == body);
}

TEST(NetworkStreamTest, ATLSSendTheSocketCannotTakeAtOnceWaitsForTheServer) {
    const std::string body = patterned(32 << 20);
    LocalTLSServer server([](UpstreamConnection& connection, const testing::HTTPMessage& request) {
        connection.write(
            testing::cannedResponse(200, "OK", {}, std::to_string(request.body.size())));
    });
    ScopedEnvironment trust("SSL_CERT_FILE", server.certificateFile().string());
    asio::io_context io;
    auto stream = NetworkStream::outgoing(io.get_executor(), endpointFor(server.port()), 32768);
    const auto answer =
        run(io,
            [](std::shared_ptr<NetworkStream> s,
               const std::string& bytes) -> asio::awaitable<std::string> {
                co_await s->start();
                const std::string head = "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                                         std::to_string(bytes.size()) + "\r\n\r\n";
                co_await s->send(asBytes(head + bytes));
                std::string all;
                while (all.find("\r\n\r\n") == std::string::npos ||
                       !all.ends_with(std::to_string(bytes.size()))) {
                    auto piece = co_await s->receiveWithin(std::chrono::seconds(20));
                    if (!piece) {
                        break;
                    }
                    all += asText(*piece);
                }
                s->cancel();
                co_return all;
            }(stream, body));
    EXPECT_EQ(answer, testing::cannedResponse(200, "OK", {}, std::to_string(body.size())));
    ASSERT_EQ(server.requests().size(), 1U);
    EXPECT_TRUE(server.requests()[0].body == body);
}

TEST(NetworkStreamTest, PlaintextHeldInsideTLSAndACloseWithoutTCPEndAreBothRead) {
    // The first answer is one record larger than a receive: once the socket is drained, the rest
    // of it is held inside TLS. The second is several records, then the TLS close while the TCP
    // connection stays open. None of it may wait for the socket.
    const std::string single(3000, 's');
    const std::vector<std::string> records = {std::string(1500, 'a'), std::string(700, 'b'),
                                              std::string(2100, 'c')};
    LocalTLSServer server([&](UpstreamConnection& connection, const testing::HTTPMessage& request) {
        if (request.startLine().find("/single") != std::string::npos) {
            connection.write(single);
            return;
        }
        for (const auto& record : records) {
            connection.write(record);
        }
        connection.closeTLSOnly();
    });
    ScopedEnvironment trust("SSL_CERT_FILE", server.certificateFile().string());
    asio::io_context io;
    auto stream = NetworkStream::outgoing(io.get_executor(), endpointFor(server.port()), 1024);
    using Pieces = std::vector<std::string>;
    const auto [firstAnswer, secondAnswer] =
        run(io,
            [](std::shared_ptr<NetworkStream> s,
               std::size_t firstSize) -> asio::awaitable<std::pair<Pieces, Pieces>> {
                co_await s->start();
                // Limits only so that a receive that waits wrongly fails instead of hanging.
                constexpr auto limit = std::chrono::seconds(20);
                Pieces first;
                co_await s->send(asBytes("GET /single HTTP/1.1\r\nHost: x\r\n\r\n"));
                for (std::size_t got = 0; got < firstSize;) {
                    auto bytes = co_await s->receiveWithin(limit);
                    if (!bytes) {
                        break;
                    }
                    got += bytes->size();
                    first.emplace_back(asText(*bytes));
                }
                Pieces second;
                co_await s->send(asBytes("GET /records HTTP/1.1\r\nHost: x\r\n\r\n"));
                while (auto bytes = co_await s->receiveWithin(limit)) {
                    second.emplace_back(asText(*bytes));
                }
                s->cancel();
                co_return std::pair{first, second};
            }(stream, single.size()));
    const auto joined = [](const Pieces& pieces) {
        std::string all;
        for (const auto& piece : pieces) {
            EXPECT_LE(piece.size(), 1024U);
            all += piece;
        }
        return all;
    };
    EXPECT_EQ(joined(firstAnswer), single);
    EXPECT_EQ(joined(secondAnswer), records[0] + records[1] + records[2]);
}

TEST(NetworkStreamTest, ALostRaceClosesATLSStream) {
    LocalTLSServer server(echoHello);
    ScopedEnvironment trust("SSL_CERT_FILE", server.certificateFile().string());
    asio::io_context io;
    auto stream = NetworkStream::outgoing(io.get_executor(), endpointFor(server.port()), 1024);
    const auto [receiveFailed, sent] =
        run(io, [](std::shared_ptr<NetworkStream> s) -> asio::awaitable<std::pair<bool, bool>> {
            co_await s->start();
            co_return co_await loseARace(s);
        }(stream));
    EXPECT_TRUE(receiveFailed);
    EXPECT_FALSE(sent);
    server.waitForClosedConnections(1);
}

// The server's session tickets reach the client after the handshake; the receive that reads them
// has no plaintext yet and must read again, and a cancellation that came in between ends it.
TEST(NetworkStreamTest, ACancellationThatComesAsATLSReadCompletesClosesTheStream) {
    LocalTLSServer server(echoHello);
    ScopedEnvironment trust("SSL_CERT_FILE", server.certificateFile().string());
    asio::io_context io;
    auto stream = NetworkStream::outgoing(io.get_executor(), endpointFor(server.port()), 1024);
    run(io, stream->start());
    for (int tries = 0; !stream->hasPendingInput() && tries < 5000; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(stream->hasPendingInput()) << "no session ticket came";
    const auto outcome = cancelAsTheReadCompletes(io, stream, false);
    EXPECT_EQ(outcome.receive, "cancelled");
    EXPECT_EQ(outcome.nextReceive, "cancelled");
    EXPECT_FALSE(outcome.sent);
    server.waitForClosedConnections(1);
}

TEST(NetworkStreamTest, ATimedOutReceiveClosesATLSStream) {
    LocalTLSServer server(echoHello);
    ScopedEnvironment trust("SSL_CERT_FILE", server.certificateFile().string());
    asio::io_context io;
    auto stream = NetworkStream::outgoing(io.get_executor(), endpointFor(server.port()), 1024);
    const auto failures =
        run(io, [](std::shared_ptr<NetworkStream> s) -> asio::awaitable<std::vector<ProxyError>> {
            co_await s->start();
            std::vector<ProxyError> seen;
            try {
                co_await s->receiveWithin(std::chrono::milliseconds(5));
            } catch (const ProxyError& error) {
                seen.push_back(error);
            }
            try {
                co_await s->send(asBytes("GET / HTTP/1.1\r\n\r\n"));
            } catch (const ProxyError& error) {
                seen.push_back(error);
            }
            co_return seen;
        }(stream));
    EXPECT_EQ(failures, (std::vector{ProxyError::timedOut(), ProxyError::cancelled()}));
    server.waitForClosedConnections(1);
}

} // namespace
} // namespace meterly::proxy
