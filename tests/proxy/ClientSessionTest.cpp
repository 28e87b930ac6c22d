#include "proxy/ClientSession.hpp"

#include "ProxyHarness.hpp"
#include "support/LocalHTTPServer.hpp"

#include <algorithm>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <thread>

namespace meterly::proxy {
namespace {

using namespace testing;
using namespace std::string_literals;

const std::string badRequestBody =
    R"({"type":"error","error":{"type":"invalid_request_error","message":"Meterly proxy: malformed HTTP request"}})";
const std::string badRequestReply = "HTTP/1.1 400 Bad Request\r\nContent-Type: application/json\r\n"
                                    "Content-Length: 107\r\nConnection: close\r\n\r\n" +
                                    badRequestBody;

std::string gatewayMessage(const std::string& explanation) {
    return "Meterly proxy could not reach localhost (" + explanation +
           "). Claude Code traffic is not being forwarded. Check that you are online, or run "
           "`scripts/uninstall.sh` to remove ANTHROPIC_BASE_URL and go direct.";
}

// A 502 or 504 reply, byte for byte, and then the close.
void expectGatewayReply(TestClient& client, int status, const std::string& explanation) {
    const std::string body = R"({"type":"error","error":{"type":"api_error","message":")" +
                             gatewayMessage(explanation) + R"("}})";
    const std::string reason = status == 504 ? "Gateway Timeout" : "Bad Gateway";
    EXPECT_EQ(client.readToEnd(), "HTTP/1.1 " + std::to_string(status) + " " + reason +
                                      "\r\nContent-Type: application/json\r\nContent-Length: " +
                                      std::to_string(body.size()) +
                                      "\r\nConnection: close\r\n\r\n" + body);
}

const std::string simplePost = "POST /v1/messages?beta=true HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                               "Content-Length: 5\r\nConnection: keep-alive\r\n"
                               "Proxy-Authorization: x\r\nX-Api-Key: k\r\n\r\nhello";

TEST(ClientSessionTest, KeptConnectionsCarryRequestsBothWays) {
    ProxyHarness proxy;
    proxy.setResponder([](UpstreamConnection& connection, const HTTPMessage& request) {
        connection.write(
            cannedResponse(200, "OK", {{"Keep-Alive", "timeout=5"}}, "echo:" + request.body));
    });
    TestClient client(proxy.port());
    // Two requests, the second with a chunked body, sent together (pipelined).
    client.send(simplePost + "PUT /b HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" +
                chunkedBody({"abc", "defg"}));
    for (const std::string body : {"echo:hello", "echo:abcdefg"}) {
        auto response = client.readResponse();
        ASSERT_TRUE(response);
        EXPECT_EQ(response->status(), 200);
        EXPECT_EQ(response->body, body);
        EXPECT_EQ(response->field("Keep-Alive"), std::nullopt);
        EXPECT_EQ(response->field("Connection"), std::nullopt);
    }

    const auto requests = proxy.upstream().requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[0].head, "POST /v1/messages?beta=true HTTP/1.1\r\nX-Api-Key: k\r\n"
                                "Host: localhost\r\nContent-Length: 5\r\n\r\n");
    EXPECT_EQ(requests[1].startLine(), "PUT /b HTTP/1.1");
    // The chunked body goes up exactly as the client framed it.
    EXPECT_EQ(requests[1].field("Transfer-Encoding"), "chunked");
    EXPECT_EQ(requests[1].raw.substr(requests[1].head.size()), chunkedBody({"abc", "defg"}));
    EXPECT_EQ(proxy.upstream().connectionsAccepted(), 1);
    EXPECT_EQ(proxy.log().count("upstream connected"), 1U);
    EXPECT_EQ(proxy.usage().requestsSeen(), 2);
}

TEST(ClientSessionTest, ResponseBodiesGoBackUnchangedUnderTheirFraming) {
    struct Case {
        std::string name;
        std::string upstreamReply;
        bool closeAfter; // the upstream ends the connection after the reply
        std::string expectedBody;
        std::optional<std::string> connectionField;
    };
    const std::string big(100000, 'x');
    const Case cases[] = {
        {"length", cannedResponse(200, "OK", {}, big), false, big, std::nullopt},
        {"chunked",
         responseHead(200, "OK", {{"Transfer-Encoding", "chunked"}}) +
             chunkedBody({"data: one\n\n", "data: two\n\n"}, "X-Trailer: t\r\n"),
         false, "data: one\n\ndata: two\n\n", std::nullopt},
        {"until close", responseHead(200, "OK", {{"Content-Type", "text/plain"}}) + big, true, big,
         "close"},
        {"upstream says close", cannedResponse(200, "OK", {{"Connection", "close"}}, "bye"), true,
         "bye", "close"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProxyHarness proxy;
        proxy.setResponder([&](UpstreamConnection& connection, const HTTPMessage&) {
            connection.write(c.upstreamReply);
            if (c.closeAfter) {
                connection.close();
            }
        });
        TestClient client(proxy.port());
        client.send("GET /stream HTTP/1.1\r\nHost: x\r\n\r\n");
        auto response = client.readResponse();
        ASSERT_TRUE(response);
        EXPECT_EQ(response->body, c.expectedBody);
        EXPECT_EQ(response->field("Connection"), c.connectionField);
        if (c.name == "chunked") {
            // Chunk sizes and trailer pass through byte for byte.
            EXPECT_EQ(response->raw.substr(response->head.size()),
                      chunkedBody({"data: one\n\n", "data: two\n\n"}, "X-Trailer: t\r\n"));
        }
        if (c.closeAfter) {
            EXPECT_TRUE(client.closedByPeer());
        } else {
            client.send("GET /again HTTP/1.1\r\n\r\n");
            ASSERT_TRUE(client.readResponse());
            EXPECT_EQ(proxy.upstream().connectionsAccepted(), 1);
        }
    }
}

TEST(ClientSessionTest, InterimResponsesPassThroughAndAreNotCounted) {
    ProxyHarness proxy;
    proxy.setResponder([](UpstreamConnection& connection, const HTTPMessage&) {
        connection.write(responseHead(100, "Continue", {}) +
                         responseHead(103, "Early Hints", {{"Link", "</a>"}}) +
                         cannedResponse(429, "Too Many Requests",
                                        {{"anthropic-ratelimit-unified-5h-utilization", "0.5"},
                                         {"anthropic-ratelimit-unified-5h-reset", "1700000000"},
                                         {"anthropic-ratelimit-unified-5h-status", "allowed"}},
                                        "slow down"));
    });
    TestClient client(proxy.port());
    client.send(simplePost);
    const int expected[] = {100, 103, 429};
    for (const int status : expected) {
        auto response = client.readResponse();
        ASSERT_TRUE(response);
        EXPECT_EQ(response->status(), status);
    }
    EXPECT_EQ(proxy.usage().requestsSeen(), 1);
    ASSERT_TRUE(proxy.usage().latest());
    ASSERT_TRUE(proxy.usage().latest()->fiveHour);
    EXPECT_DOUBLE_EQ(proxy.usage().latest()->fiveHour->utilization, 0.5);
    const auto lines = proxy.log().lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "response status 103"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "response status 429"), 1);
}

TEST(ClientSessionTest, ClientsThatAskToCloseAreClosedAfterTheResponse) {
    for (const std::string request :
         {"GET / HTTP/1.1\r\nConnection: close\r\n\r\n", "GET / HTTP/1.0\r\n\r\n"}) {
        SCOPED_TRACE(request);
        ProxyHarness proxy;
        TestClient client(proxy.port());
        client.send(request);
        auto response = client.readResponse();
        ASSERT_TRUE(response);
        EXPECT_EQ(response->status(), 200);
        // The upstream keeps its side, so no close is announced; the proxy still closes.
        EXPECT_EQ(response->field("Connection"), std::nullopt);
        EXPECT_TRUE(client.closedByPeer());
        EXPECT_TRUE(proxy.log().waitFor("client disconnected"));
    }
}

TEST(ClientSessionTest, AnswersTheHealthCheckAndTheStatusItself) {
    ProxyHarness proxy;
    TestClient client(proxy.port());
    client.send("HEAD /api/hello?x=1 HTTP/1.1\r\n\r\n");
    auto health = client.readResponse("HEAD");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->raw,
              "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nCache-Control: no-store\r\n\r\n");

    client.send("GET /__meterly/status HTTP/1.1\r\n\r\n");
    auto status = client.readResponse();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->status(), 200);
    EXPECT_EQ(status->field("Content-Type"), "application/json");
    EXPECT_EQ(nlohmann::json::parse(status->body),
              (nlohmann::json{{"available", false}, {"requestsSeen", 0}}));

    // A GET of the health path goes upstream like any other request.
    client.send("GET /api/hello HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(client.readResponse());
    ASSERT_EQ(proxy.upstream().requests().size(), 1U);
    EXPECT_EQ(proxy.upstream().requests()[0].startLine(), "GET /api/hello HTTP/1.1");
    EXPECT_EQ(proxy.log().count("served health check"), 1U);

    client.send("GET /__meterly/status HTTP/1.1\r\n\r\n");
    status = client.readResponse();
    ASSERT_TRUE(status);
    const auto document = nlohmann::json::parse(status->body);
    EXPECT_EQ(document["requestsSeen"], 1);
    EXPECT_TRUE(document.contains("lastRequestAt"));
}

TEST(ClientSessionTest, UnusableRequestHeadsGetTheFixedBadRequest) {
    struct Case {
        std::string name;
        std::string bytes;
        bool closeAfterSending;
        std::string failure;
    };
    const Case cases[] = {
        {"malformed", "GET / HTTP/1.1\r\nno colon here\r\n\r\n", false, "malformed HTTP message"},
        {"too large", "GET / HTTP/1.1\r\nX-Big: " + std::string(70000, 'a'), false,
         "HTTP head too large"},
        {"cut off", "GET / HTTP/1.1\r\nHost", true, "malformed HTTP message"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProxyHarness proxy;
        TestClient client(proxy.port());
        client.send(c.bytes);
        if (c.closeAfterSending) {
            ::shutdown(client.socket(), SHUT_WR);
        }
        EXPECT_EQ(client.readToEnd(), badRequestReply);
        EXPECT_TRUE(proxy.log().waitFor("client disconnected"));
        EXPECT_EQ(proxy.log().count("client error: " + c.failure), 1U);
        EXPECT_TRUE(proxy.upstream().requests().empty());
    }
}

TEST(ClientSessionTest, RequestsWhoseFramingIsInDoubtGetTheFixedBadRequest) {
    struct Case {
        std::string name;
        std::string fields;
        std::string failure;
    };
    const std::string malformed = "malformed HTTP message";
    const std::string framing = "invalid message framing";
    const Case cases[] = {
        {"space before colon, chunked", "Transfer-Encoding : chunked\r\n", malformed},
        {"space before colon, length", "Content-Length : 30\r\n", malformed},
        {"length list", "Content-Length: 5, 5\r\n", framing},
        {"negative length", "Content-Length: -5\r\n", framing},
        {"twenty digits", "Content-Length: 99999999999999999999\r\n", framing},
        {"two lengths", "Content-Length: 5\r\nContent-Length: 30\r\n", framing},
        {"gzip alone", "Transfer-Encoding: gzip\r\n", framing},
        {"chunked inside a word", "Transfer-Encoding: xchunkedx\r\n", framing},
        {"bare CR", "X-A: one\rX-B: two\r\n", malformed},
        {"NUL", "X-A: one\0two\r\n"s, malformed},
        {"head over the limit", "X-Big: " + std::string(80000, 'a') + "\r\n",
         "HTTP head too large"},
    };
    // A body that would be read as a request of its own if the head were taken at its word.
    const std::string body = "GET /smuggled HTTP/1.1\r\nHost: x\r\n\r\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProxyHarness proxy;
        TestClient client(proxy.port());
        client.send("POST /v1/messages HTTP/1.1\r\nHost: x\r\n" + c.fields + "\r\n" + body);
        EXPECT_EQ(client.readToEnd(), badRequestReply);
        EXPECT_TRUE(proxy.log().waitFor("client disconnected"));
        EXPECT_EQ(proxy.log().count("client error: " + c.failure), 1U)
            << ::testing::PrintToString(proxy.log().lines());
        EXPECT_TRUE(proxy.upstream().requests().empty());
    }
}

TEST(ClientSessionTest, HeaderBytesGoUpstreamUnchanged) {
    ProxyHarness proxy;
    TestClient client(proxy.port());
    client.send("GET / HTTP/1.1\r\nX-Latin: caf\xE9\r\nX-Utf8: caf\xC3\xA9\r\n\r\n");
    ASSERT_TRUE(client.readResponse());
    const auto requests = proxy.upstream().requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].field("X-Latin"), "caf\xE9");
    EXPECT_EQ(requests[0].field("X-Utf8"), "caf\xC3\xA9");
}

TEST(ClientSessionTest, UpstreamResponsesThatBreakTheRulesGetABadGateway) {
    struct Case {
        std::string name;
        std::string reply;
        std::string failure;
    };
    const Case cases[] = {
        {"status -1", "HTTP/1.1 -1 Odd\r\nContent-Length: 0\r\n\r\n", "malformed HTTP message"},
        {"status 0", "HTTP/1.1 0 Odd\r\nContent-Length: 0\r\n\r\n", "malformed HTTP message"},
        {"status 1000", "HTTP/1.1 1000 Odd\r\nContent-Length: 0\r\n\r\n", "malformed HTTP message"},
        {"status 99999999999", "HTTP/1.1 99999999999 Odd\r\nContent-Length: 0\r\n\r\n",
         "malformed HTTP message"},
        {"bare CR", "HTTP/1.1 200 OK\r\nX-A: one\rSet-Cookie: x\r\nContent-Length: 0\r\n\r\n",
         "malformed HTTP message"},
        {"NUL", "HTTP/1.1 200 OK\r\nX-A: \0\r\nContent-Length: 0\r\n\r\n"s,
         "malformed HTTP message"},
        {"head over the limit",
         "HTTP/1.1 200 OK\r\nX-Big: " + std::string(80000, 'a') + "\r\nContent-Length: 0\r\n\r\n",
         "HTTP head too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProxyHarness proxy;
        proxy.setResponder(
            [&](UpstreamConnection& connection, const HTTPMessage&) { connection.write(c.reply); });
        TestClient client(proxy.port());
        client.send(simplePost);
        expectGatewayReply(client, 502, c.failure);
        EXPECT_EQ(proxy.log().count("upstream failed: " + c.failure), 1U);
        for (const auto& line : proxy.log().lines()) {
            EXPECT_FALSE(line.starts_with("response status")) << line;
        }
    }
}

TEST(ClientSessionTest, EndlessInterimResponsesEndInABadGateway) {
    ProxyHarness proxy;
    proxy.setResponder([](UpstreamConnection& connection, const HTTPMessage&) {
        std::string replies;
        for (int i = 0; i < 1000; ++i) {
            replies += responseHead(102, "Processing", {});
        }
        connection.write(replies + cannedResponse(200, "OK", {}, "late"));
    });
    TestClient client(proxy.port());
    client.send(simplePost);
    int interim = 0;
    std::optional<HTTPMessage> response;
    while ((response = client.readResponse()) && response->status() == 102) {
        ++interim;
    }
    ASSERT_TRUE(response);
    EXPECT_EQ(interim, 100);
    EXPECT_EQ(response->status(), 502);
    EXPECT_TRUE(client.closedByPeer());
    EXPECT_EQ(proxy.log().count("response status 102"), 100U);
}

TEST(ClientSessionTest, ResponsesWhoseCodingsDoNotEndInChunkedRunUntilClose) {
    ProxyHarness proxy;
    proxy.setResponder([](UpstreamConnection& connection, const HTTPMessage&) {
        connection.write(
            responseHead(200, "OK", {{"Transfer-Encoding", "xchunkedx"}, {"Content-Length", "3"}}) +
            "0\r\n\r\nall of it");
        connection.close();
    });
    TestClient client(proxy.port());
    client.send("GET / HTTP/1.1\r\n\r\n");
    auto response = client.readResponse();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->field("Connection"), "close");
    EXPECT_EQ(response->field("Transfer-Encoding"), std::nullopt);
    EXPECT_EQ(response->body, "0\r\n\r\nall of it");
    EXPECT_TRUE(client.closedByPeer());
}

TEST(ClientSessionTest, SlowOrSilentClientsTimeOut) {
    ProxyHarness proxy([](ProxyConfiguration& configuration) {
        configuration.clientHeadCompletionTimeout = std::chrono::milliseconds(50);
        configuration.upstreamTimeout = std::chrono::milliseconds(300);
    });
    {
        // Part of a head that never completes.
        TestClient client(proxy.port());
        client.send("GET / HTTP/1.1\r\n");
        EXPECT_EQ(client.readToEnd(), badRequestReply);
    }
    {
        // Nothing at all, after one answered request.
        TestClient client(proxy.port());
        client.send("HEAD /api/hello HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(client.readResponse("HEAD"));
        EXPECT_EQ(client.readToEnd(), badRequestReply);
    }
    EXPECT_TRUE(proxy.log().waitFor("client disconnected", 2));
    EXPECT_EQ(proxy.log().count("client error: timed out"), 2U)
        << ::testing::PrintToString(proxy.log().lines());
}

TEST(ClientSessionTest, ClientsThatGoAwayAreDroppedQuietly) {
    ProxyHarness proxy;
    proxy.setResponder([](UpstreamConnection& connection, const HTTPMessage&) {
        connection.write(cannedResponse(200, "OK", {}, "x"));
    });
    {
        // Between requests.
        TestClient client(proxy.port());
        client.send("GET / HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(client.readResponse());
    }
    EXPECT_TRUE(proxy.log().waitFor("client disconnected"));
    {
        // In the middle of a request body.
        TestClient client(proxy.port());
        client.send("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\npartial");
        client.close();
    }
    EXPECT_TRUE(proxy.log().waitFor("client disconnected", 2));
    for (const auto& line : proxy.log().lines()) {
        EXPECT_EQ(line.find("error"), std::string::npos) << line;
        EXPECT_EQ(line.find("failed"), std::string::npos) << line;
    }
}

// Waits (at most 10 s, so that a broken case fails instead of hanging) until `done` holds.
template <typename Done>
bool eventually(Done done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Closes the client's connection with a reset instead of an orderly close.
void resetOnClose(TestClient& client) {
    const linger abort{1, 0};
    ::setsockopt(client.socket(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

TEST(ClientSessionTest, ClientsThatGoAwayWhileTheUpstreamIsSilentEndTheUpstreamExchange) {
    ProxyHarness proxy;
    std::atomic<int> upstreamEnded{0};
    proxy.setResponder([&](UpstreamConnection& connection, const HTTPMessage& request) {
        if (request.target() == "/streaming") {
            connection.write(responseHead(200, "OK", {{"Transfer-Encoding", "chunked"}}) +
                             "5\r\nfirst\r\n");
        }
        // The model is still thinking: nothing more comes until the proxy lets go of the
        // connection.
        if (!connection.readRequest()) {
            ++upstreamEnded;
        }
    });
    // Half of the clients go while they wait for the response head, half in the middle of a
    // streamed body; of each half, every other one resets its connection instead of closing it.
    constexpr int count = 52;
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<TestClient>(proxy.port()));
        clients.back()->send(std::string("POST ") + (i % 2 ? "/streaming" : "/silent") +
                             " HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi");
    }
    proxy.upstream().waitForRequests(count);
    for (int i = 1; i < count; i += 2) {
        auto& client = *clients[static_cast<std::size_t>(i)];
        ASSERT_TRUE(client.reader().readHead());
        std::string body = client.reader().buffered();
        char piece[64];
        long got = 1;
        while (body.find("first") == std::string::npos && got > 0) {
            got = client.readSome(piece, sizeof piece);
            body.append(piece, static_cast<std::size_t>(std::max(got, 0L)));
        }
        ASSERT_NE(body.find("first"), std::string::npos);
    }
    EXPECT_EQ(proxy.server().liveSessionCount(), static_cast<std::size_t>(count));

    for (int i = 0; i < count; ++i) {
        if (i % 4 >= 2) {
            resetOnClose(*clients[static_cast<std::size_t>(i)]);
        }
        clients[static_cast<std::size_t>(i)].reset();
    }
    EXPECT_TRUE(eventually([&] { return upstreamEnded == count; }))
        << upstreamEnded << " of " << count << " upstream connections closed";
    EXPECT_TRUE(eventually([&] { return proxy.server().liveSessionCount() == 0; }))
        << proxy.server().liveSessionCount() << " sessions still live";
    EXPECT_TRUE(proxy.log().waitFor("client disconnected", count));
    for (const auto& line : proxy.log().lines()) {
        EXPECT_EQ(line.find("failed"), std::string::npos) << line;
    }
    EXPECT_EQ(proxy.usage().requestsSeen(), count / 2) << "the streamed heads were counted";
}

TEST(ClientSessionTest, AClientThatWaitsOrSendsItsNextRequestEarlyIsNotGone) {
    ProxyHarness proxy;
    std::promise<void> answer;
    auto answered = answer.get_future().share();
    std::atomic<bool> heldEnded{false};
    proxy.setResponder([&, answered](UpstreamConnection& connection, const HTTPMessage& request) {
        if (request.target() == "/held") {
            heldEnded = !connection.readRequest();
            return;
        }
        if (request.target() == "/slow") {
            answered.wait();
        }
        connection.write(cannedResponse(200, "OK", {}, "for " + request.target()));
    });
    TestClient client(proxy.port());
    client.send("GET /slow HTTP/1.1\r\n\r\n");
    proxy.upstream().waitForRequests(1);
    // Silent for a while, then the next request pipelined while the first is still out.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    client.send("GET /next HTTP/1.1\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    answer.set_value();
    for (const std::string body : {"for /slow", "for /next"}) {
        auto response = client.readResponse();
        ASSERT_TRUE(response);
        EXPECT_EQ(response->body, body);
    }
    EXPECT_EQ(proxy.upstream().connectionsAccepted(), 1);

    // The following exchange on the connection is watched again.
    client.send("GET /held HTTP/1.1\r\n\r\n");
    proxy.upstream().waitForRequests(3);
    client.close();
    EXPECT_TRUE(eventually([&] { return heldEnded.load(); }));
}

TEST(ClientSessionTest, UnreachableUpstreamsGetGatewayErrors) {
    {
        // Held for the whole case, so that no other test process can start listening on it.
        testing::ReservedPort closed;
        const auto port = closed.port();
        ProxyHarness proxy([port](ProxyConfiguration& c) { c.upstreamPort = port; });
        TestClient client(proxy.port());
        client.send(simplePost);
        expectGatewayReply(client, 502, "connection refused");
        EXPECT_EQ(proxy.log().count("upstream failed: connection refused"), 1U);
    }
    {
        // A certificate for another host fails verification.
        ProxyHarness proxy({}, {"DNS:elsewhere.test"});
        TestClient client(proxy.port());
        client.send(simplePost);
        expectGatewayReply(client, 502, "TLS handshake failed");
        EXPECT_TRUE(proxy.upstream().requests().empty());
    }
    {
        // An upstream that never answers.
        ProxyHarness proxy(
            [](ProxyConfiguration& c) { c.upstreamTimeout = std::chrono::milliseconds(200); });
        std::promise<void> release;
        auto released = release.get_future().share();
        proxy.setResponder(
            [released](UpstreamConnection&, const HTTPMessage&) { released.wait(); });
        TestClient client(proxy.port());
        client.send(simplePost);
        expectGatewayReply(client, 504, "timed out");
        release.set_value();
    }
    {
        // An upstream that drops the connection instead of answering.
        ProxyHarness proxy;
        proxy.setResponder(
            [](UpstreamConnection& connection, const HTTPMessage&) { connection.closeAbruptly(); });
        TestClient client(proxy.port());
        client.send(simplePost);
        expectGatewayReply(client, 502, "connection closed early");
    }
    {
        // An upstream whose answer is no HTTP response.
        ProxyHarness proxy;
        proxy.setResponder([](UpstreamConnection& connection, const HTTPMessage&) {
            connection.write("SSH-2.0-OpenSSH\r\n\r\n");
        });
        TestClient client(proxy.port());
        client.send(simplePost);
        expectGatewayReply(client, 502, "malformed HTTP message");
    }
    {
        // A request body that breaks its chunked coding on the way up.
        ProxyHarness proxy;
        TestClient client(proxy.port());
        client.send("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n");
        expectGatewayReply(client, 502, "invalid message framing");
        EXPECT_EQ(proxy.log().count("upstream failed: invalid message framing"), 1U);
    }
}

TEST(ClientSessionTest, AKeptUpstreamConnectionClosedWhileIdleIsReplaced) {
    ProxyHarness proxy;
    std::atomic<int> answered{0};
    proxy.setResponder([&](UpstreamConnection& connection, const HTTPMessage&) {
        connection.write(cannedResponse(200, "OK", {}, "fine"));
        // The upstream keeps nothing, without saying so.
        connection.close();
        ++answered;
    });
    TestClient client(proxy.port());
    client.send("GET /1 HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(client.readResponse());
    proxy.upstream().waitForClosedConnections(1);
    client.send("GET /2 HTTP/1.1\r\n\r\n");
    auto second = client.readResponse();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->status(), 200);
    EXPECT_EQ(second->body, "fine");
    EXPECT_EQ(proxy.upstream().connectionsAccepted(), 2);
    EXPECT_EQ(proxy.log().count("upstream connected"), 2U);
}

TEST(ClientSessionTest, KeepAlivePredicates) {
    struct Case {
        std::string version;
        std::optional<std::string> connection;
        bool keep;
    };
    const Case cases[] = {
        {"HTTP/1.1", std::nullopt, true}, {"HTTP/1.1", "Keep-Alive, Close", false},
        {"HTTP/1.1", "upgrade", true},    {"HTTP/1.0", std::nullopt, false},
        {"http/1.0", "keep-alive", true}, {"HTTP/1.0", "keep-alive, close", false},
        {"HTTP/1.0", "KEEP-ALIVE", true}, {"HTTP/1.1", "CLOSE", false},
    };
    for (const auto& c : cases) {
        HTTPHeaders headers;
        if (c.connection) {
            headers.append("Connection", *c.connection);
        }
        EXPECT_EQ(
            ClientSession::clientWantsKeepAlive(HTTPRequestHead("GET", "/", c.version, headers)),
            c.keep)
            << c.version << " " << c.connection.value_or("-");
        EXPECT_EQ(
            ClientSession::upstreamWantsKeepAlive(HTTPResponseHead(c.version, 200, "OK", headers)),
            c.keep);
    }
}

} // namespace
} // namespace meterly::proxy
