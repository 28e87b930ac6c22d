#include "proxy/HTTPStreamReader.hpp"

#include "FakeByteStreams.hpp"

#include <gtest/gtest.h>

namespace meterly::proxy {
namespace {

using namespace std::chrono_literals;
using testing::FakeSource;
using testing::runToEnd;
using testing::text;
using Instant = std::chrono::steady_clock::time_point;

constexpr std::size_t maximumHead = 65536;

// A monotonic clock that moves only when a test says so.
struct ManualClock {
    Instant now{};
    HTTPStreamReader::Now function() {
        return [this] { return now; };
    }
    FakeSource::Action advance(ProxyDuration by) {
        return [this, by] { now += by; };
    }
};

struct ReaderFixture {
    std::shared_ptr<FakeSource> source = std::make_shared<FakeSource>();
    ManualClock clock;
    HTTPStreamReader reader{source, 5ms, clock.function()};

    std::string head(std::optional<ProxyDuration> completion = 30s,
                     std::size_t maximum = maximumHead) {
        return text(runToEnd(reader.readHead(maximum, completion)));
    }
    std::optional<std::string> body(std::size_t limit) {
        auto piece = runToEnd(reader.nextBodyBytes(limit));
        if (!piece) {
            return std::nullopt;
        }
        return text(*piece);
    }
    void pushBack(std::string_view data) { reader.pushBack(asBytes(data)); }
    ProxyError headError(std::optional<ProxyDuration> completion = 30s,
                         std::size_t maximum = maximumHead) {
        try {
            runToEnd(reader.readHead(maximum, completion));
        } catch (const ProxyError& error) {
            return error;
        }
        ADD_FAILURE() << "a head was returned";
        return ProxyError::cancelled();
    }
};

TEST(HTTPStreamReaderTest, HeadThenTheBodyBytesThatCameWithIt) {
    ReaderFixture f;
    f.source->then("POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhel").then("lo");
    EXPECT_EQ(f.head(), "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\n");
    EXPECT_EQ(f.body(100), "hel");
    EXPECT_EQ(f.source->receives(), 1);
    EXPECT_EQ(f.body(100), "lo");
    EXPECT_EQ(f.body(100), std::nullopt);
}

TEST(HTTPStreamReaderTest, PipelinedHeadIsReadWithoutReceiving) {
    ReaderFixture f;
    f.source->then("GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\n\n");
    EXPECT_EQ(f.head(), "GET /a HTTP/1.1\r\n\r\n");
    EXPECT_EQ(f.head(), "GET /b HTTP/1.1\n\n");
    EXPECT_EQ(f.source->receives(), 1);
}

TEST(HTTPStreamReaderTest, FindsATerminatorSplitAcrossReceives) {
    ReaderFixture f;
    f.source->then("GET / HTTP/1.1\r\nA: b\r\n\r").then("\nrest");
    EXPECT_EQ(f.head(), "GET / HTTP/1.1\r\nA: b\r\n\r\n");
    EXPECT_EQ(f.body(100), "rest");

    // One byte at a time, with empty receives in between that are neither data nor the end.
    ReaderFixture g;
    for (char c : std::string_view("GET / HTTP/1.1\r\n\r\nX")) {
        g.source->then(std::string_view(&c, 1)).then("");
    }
    EXPECT_EQ(g.head(), "GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(g.body(100), "X");
}

TEST(HTTPStreamReaderTest, EndOfStream) {
    ReaderFixture closedAtOnce;
    EXPECT_EQ(closedAtOnce.headError(), ProxyError::peerClosed());

    ReaderFixture cutOff;
    cutOff.source->then("GET / HT");
    EXPECT_EQ(cutOff.headError(), ProxyError::malformedHead());

    // Once the end was seen, reads are served from the buffer alone.
    ReaderFixture after;
    after.source->then("GET / HTTP/1.1\r\n\r\nab");
    EXPECT_EQ(after.head(), "GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(after.body(100), "ab");
    EXPECT_EQ(after.body(100), std::nullopt);
    const int receives = after.source->receives();
    EXPECT_EQ(after.headError(), ProxyError::peerClosed());
    EXPECT_EQ(after.body(100), std::nullopt);
    EXPECT_EQ(after.source->receives(), receives);
}

TEST(HTTPStreamReaderTest, ReceiveErrorsPassUnchangedAndKeepTheBuffer) {
    ReaderFixture f;
    f.source->then("GET / ").then(ProxyError::network(ProxyFailure::connectionClosed));
    EXPECT_EQ(f.headError(), ProxyError::network(ProxyFailure::connectionClosed));
    EXPECT_EQ(f.reader.bufferedCount(), 6U);
}

TEST(HTTPStreamReaderTest, SilentPeerTimesOutAfterTheReceiveLimit) {
    // No byte yet: the head deadline is not running, the receive limit (5 ms here) applies.
    ReaderFixture f;
    f.source->then(FakeSource::Silence{});
    EXPECT_EQ(f.headError(), ProxyError::timedOut());
    EXPECT_EQ(f.source->answeredSilences(), 0);

    ReaderFixture body;
    body.source->then(FakeSource::Silence{});
    EXPECT_THROW(body.body(10), ProxyError);
}

TEST(HTTPStreamReaderTest, HeadDeadlineRunsFromTheFirstBytes) {
    // The deadline has passed before the next receive: that receive is not made.
    ReaderFixture late;
    late.source->then("GET / HTTP/1.1\r\n").then(late.clock.advance(31s)).then("A: b\r\n");
    EXPECT_EQ(late.headError(), ProxyError::timedOut());
    EXPECT_EQ(late.source->receives(), 2);

    // What is left of the deadline limits the next receive, far below the 30 s.
    ReaderFixture stalled;
    stalled.reader = HTTPStreamReader(stalled.source, 1h, stalled.clock.function());
    stalled.source->then("GET")
        .then(stalled.clock.advance(30s - 5ms))
        .then(" / HT")
        .then(FakeSource::Silence{});
    EXPECT_EQ(stalled.headError(), ProxyError::timedOut());

    // Response heads have no deadline: the same stall is only limited per receive.
    ReaderFixture response;
    response.source->then("HTTP/1.1 200 OK\r\n")
        .then(response.clock.advance(1h))
        .then("A: b\r\n\r\n");
    EXPECT_EQ(response.head(std::nullopt), "HTTP/1.1 200 OK\r\nA: b\r\n\r\n");
}

TEST(HTTPStreamReaderTest, HeadDeadlineRunsFromTheCallForBufferedBytes) {
    ReaderFixture f;
    f.source->then("GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n")
        .then(f.clock.advance(31s))
        .then("A: b\r\n")
        .then("\r\n");
    EXPECT_EQ(f.head(), "GET /a HTTP/1.1\r\n\r\n");
    EXPECT_EQ(f.headError(), ProxyError::timedOut());
}

TEST(HTTPStreamReaderTest, HeadSizeLimit) {
    // Exactly the limit without an end: reading goes on; one byte more without an end is refused.
    ReaderFixture f;
    f.source->then("GET / HTTP/1.1\r\n").then("x");
    EXPECT_EQ(f.headError(30s, 16), ProxyError::headTooLarge());
    EXPECT_EQ(f.source->receives(), 2);

    // A head whose end arrives in the receive that carries it past the limit is refused too,
    // whether it came in pieces or in one receive.
    ReaderFixture g;
    g.source->then("GET / HTTP/1.1\r\n").then("A: 123456789\r\n\r\n");
    EXPECT_EQ(g.headError(30s, 16), ProxyError::headTooLarge());
    ReaderFixture h;
    h.source->then("GET / HTTP/1.1\r\nA: 1\r\n\r\n");
    EXPECT_EQ(h.headError(30s, 23), ProxyError::headTooLarge());

    // A head of exactly the limit, blank line included, is returned with the bytes after it kept.
    ReaderFixture e;
    e.source->then("GET / HTTP/1.1\r\nA: 1\r\n\r\nbody");
    EXPECT_EQ(e.head(30s, 24), "GET / HTTP/1.1\r\nA: 1\r\n\r\n");
    EXPECT_EQ(e.reader.bufferedCount(), 4U);
}

TEST(HTTPStreamReaderTest, BodyPiecesAndPushBack) {
    ReaderFixture f;
    f.source->then("GET / HTTP/1.1\r\n\r\n0123456789abcdefghijklmno");
    f.head();
    EXPECT_EQ(f.body(10), "0123456789");
    EXPECT_EQ(f.reader.bufferedCount(), 15U);

    f.pushBack("XY");
    EXPECT_EQ(f.body(4), "XYab");
    // Pushing back more than was ever taken from the front.
    f.pushBack("0123456789012345678901234567890");
    EXPECT_EQ(f.body(100), "0123456789012345678901234567890cdefghijklmno");
    f.pushBack("");
    EXPECT_EQ(f.reader.bufferedCount(), 0U);
}

} // namespace
} // namespace meterly::proxy
