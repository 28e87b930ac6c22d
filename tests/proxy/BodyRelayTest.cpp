#include "proxy/BodyRelay.hpp"

#include "FakeByteStreams.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace meterly::proxy {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using testing::FakeSink;
using testing::FakeSource;
using testing::runToEnd;
using testing::text;

struct RelayFixture {
    std::shared_ptr<FakeSource> source = std::make_shared<FakeSource>();
    HTTPStreamReader reader{source, 5ms};
    FakeSink sink;

    void relay(BodyFraming framing, std::size_t chunkSize = 32768) {
        runToEnd(BodyRelay::relay(framing, reader, sink, chunkSize));
    }
    ProxyError relayError(BodyFraming framing, std::size_t chunkSize = 32768) {
        try {
            relay(framing, chunkSize);
        } catch (const ProxyError& error) {
            return error;
        }
        ADD_FAILURE() << "the relay succeeded";
        return ProxyError::cancelled();
    }
    // What the reader holds after the relay, up to the end of the stream.
    std::string rest() {
        std::string all;
        while (auto piece = runToEnd(reader.nextBodyBytes(1024))) {
            all += text(*piece);
        }
        return all;
    }
};

TEST(BodyRelayTest, LengthStopsAtTheLastByteOfTheBody) {
    RelayFixture f;
    f.source->then("0123456789GET / HTTP/1.1\r\n\r\n");
    f.relay(BodyFraming::contentLength(10));
    EXPECT_EQ(f.sink.all(), "0123456789");
    EXPECT_EQ(f.rest(), "GET / HTTP/1.1\r\n\r\n");
}

TEST(BodyRelayTest, LengthIsSentInPiecesOfAtMostTheChunkSize) {
    RelayFixture f;
    f.source->then(std::string(70, 'a'));
    f.relay(BodyFraming::contentLength(70), 32);
    EXPECT_THAT(f.sink.sizes(), ElementsAre(32, 32, 6));

    // Each piece goes out as it arrives, however small.
    RelayFixture g;
    g.source->then("a").then("").then("bc").then("d");
    g.relay(BodyFraming::contentLength(4));
    EXPECT_THAT(g.sink.sizes(), ElementsAre(1, 2, 1));
}

TEST(BodyRelayTest, PeerClosingInsideABody) {
    RelayFixture length;
    length.source->then("0123");
    EXPECT_EQ(length.relayError(BodyFraming::contentLength(10)), ProxyError::peerClosed());
    EXPECT_EQ(length.sink.all(), "0123");

    RelayFixture chunked;
    chunked.source->then("5\r\nhel");
    EXPECT_EQ(chunked.relayError(BodyFraming::chunked()), ProxyError::peerClosed());
    EXPECT_EQ(chunked.sink.all(), "5\r\nhel");
}

TEST(BodyRelayTest, ChunkedBodyIsForwardedUnchangedAndTheRestGoesBack) {
    const std::string body = "5;ext=1\r\nhello\r\n3\nabc\n0\r\nX-Sum: 9\r\nExpires: 0\r\n\r\n";
    RelayFixture f;
    f.source->then(body.substr(0, 12)).then(body.substr(12) + "HTTP/1.1 200 OK\r\n\r\n");
    f.relay(BodyFraming::chunked());
    EXPECT_EQ(f.sink.all(), body);
    EXPECT_EQ(f.sink.sends().size(), 2U);
    EXPECT_EQ(f.rest(), "HTTP/1.1 200 OK\r\n\r\n");

    // One byte at a time: every byte is forwarded on its own, none is held back.
    RelayFixture g;
    for (char c : body) {
        g.source->then(std::string_view(&c, 1));
    }
    g.relay(BodyFraming::chunked());
    EXPECT_EQ(g.sink.all(), body);
    EXPECT_EQ(g.sink.sends().size(), body.size());
}

TEST(BodyRelayTest, BrokenChunkedPieceIsNotSent) {
    RelayFixture f;
    f.source->then("5\r\nhel").then("loX\r\n0\r\n\r\n");
    EXPECT_EQ(f.relayError(BodyFraming::chunked()), ProxyError::invalidFraming());
    EXPECT_EQ(f.sink.all(), "5\r\nhel");
}

TEST(BodyRelayTest, UntilCloseRunsToTheEndOfTheStream) {
    RelayFixture f;
    f.source->then("ab").then("cd");
    f.relay(BodyFraming::untilClose());
    EXPECT_THAT(f.sink.sizes(), ElementsAre(2, 2));

    RelayFixture closed;
    closed.relay(BodyFraming::untilClose());
    EXPECT_TRUE(closed.sink.sends().empty());
}

TEST(BodyRelayTest, NoBodyReadsNothing) {
    for (const auto framing :
         {BodyFraming::none(), BodyFraming::contentLength(0), BodyFraming::contentLength(-5)}) {
        RelayFixture f;
        f.source->then("GET / HTTP/1.1\r\n\r\n");
        f.relay(framing);
        EXPECT_TRUE(f.sink.sends().empty()) << framing;
        EXPECT_EQ(f.source->receives(), 0) << framing;
    }
}

TEST(BodyRelayTest, FailuresPassUnchanged) {
    RelayFixture sendFails;
    sendFails.source->then("abc").then("def");
    sendFails.sink.failAt(1);
    EXPECT_EQ(sendFails.relayError(BodyFraming::contentLength(6)),
              ProxyError::network(ProxyFailure::connectionClosed));

    RelayFixture silent;
    silent.source->then("xy").then(FakeSource::Silence{});
    EXPECT_EQ(silent.relayError(BodyFraming::chunked()), ProxyError::invalidFraming());

    RelayFixture stalled;
    stalled.source->then("2\r\nab").then(FakeSource::Silence{});
    EXPECT_EQ(stalled.relayError(BodyFraming::chunked()), ProxyError::timedOut());

    RelayFixture receiveFails;
    receiveFails.source->then(ProxyError::network(ProxyFailure::tlsFailure));
    EXPECT_EQ(receiveFails.relayError(BodyFraming::untilClose()),
              ProxyError::network(ProxyFailure::tlsFailure));
}

TEST(BodyRelayTest, ZeroChunkSizeStillMovesTheBody) {
    RelayFixture f;
    f.source->then("abc");
    f.relay(BodyFraming::contentLength(3), 0);
    EXPECT_EQ(f.sink.all(), "abc");
}

} // namespace
} // namespace meterly::proxy
