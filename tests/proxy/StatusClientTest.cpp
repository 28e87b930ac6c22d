#include "proxy/StatusClient.hpp"

#include "support/LocalHTTPServer.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace meterly::proxy;
using meterly::core::CancellationToken;
using meterly::core::LimitWindow;
using meterly::core::UsageSnapshot;
using meterly::testing::LocalHTTPServer;

namespace {

const std::string fullDocument =
    R"({"available":true,"requestsSeen":12,"lastRequestAt":1700000100.5,)"
    R"("capturedAt":1700000099.25,"representativeClaim":"five_hour","overageStatus":"allowed",)"
    R"("fiveHour":{"status":"allowed","utilization":0.42,"resetAt":1700018000},)"
    R"("sevenDay":{"status":"rejected","utilization":1.07,"resetAt":1700500000.5},"extra":[1]})";

ProxyStatusReport fullReport() {
    return {UsageSnapshot{LimitWindow{"allowed", 0.42, 1700018000},
                          LimitWindow{"rejected", 1.07, 1700500000.5}, "five_hour", "allowed",
                          1700000099.25},
            12, 1700000100.5};
}

LocalHTTPServer::Responder answering(const std::string& reply) {
    return [reply](const std::string&) { return std::optional<std::string>(reply); };
}

} // namespace

TEST(StatusClientTest, DecodesTheFullDocument) {
    EXPECT_EQ(StatusClient::decode(fullDocument), fullReport());
}

TEST(StatusClientTest, DecodeIsLenientInsideAValidDocument) {
    struct Case {
        const char* name;
        const char* body;
        ProxyStatusReport expected;
    };
    auto capturedOnly = [](std::optional<LimitWindow> fiveHour = std::nullopt) {
        return UsageSnapshot{std::move(fiveHour), std::nullopt, std::nullopt, std::nullopt, 5};
    };
    const Case cases[] = {
        {"fallback document", R"({"available":false})", {std::nullopt, 0, std::nullopt}},
        {"available without capture time",
         R"({"available":true,"requestsSeen":4,"lastRequestAt":9,"fiveHour":{"status":"allowed","utilization":0.1,"resetAt":1}})",
         {std::nullopt, 4, 9.0}},
        {"unavailable with windows",
         R"({"available":false,"capturedAt":5,"fiveHour":{"status":"allowed","utilization":0.1,"resetAt":1}})",
         {std::nullopt, 0, std::nullopt}},
        {"window without status",
         R"({"available":true,"capturedAt":5,"fiveHour":{"utilization":0.1,"resetAt":1}})",
         {capturedOnly(LimitWindow{"unknown", 0.1, 1}), 0, std::nullopt}},
        {"window without reset",
         R"({"available":true,"capturedAt":5,"fiveHour":{"status":"allowed","utilization":0.1}})",
         {capturedOnly(), 0, std::nullopt}},
        {"window given as null or text",
         R"({"available":true,"capturedAt":5,"fiveHour":null,"sevenDay":"full"})",
         {capturedOnly(), 0, std::nullopt}},
        {"utilization as text",
         R"({"available":true,"capturedAt":5,"fiveHour":{"utilization":"0.1","resetAt":1}})",
         {capturedOnly(), 0, std::nullopt}},
        {"claim and overage not texts",
         R"({"available":true,"capturedAt":5,"representativeClaim":1,"overageStatus":null})",
         {capturedOnly(), 0, std::nullopt}},
        {"requests as text", R"({"available":false,"requestsSeen":"5"})", {std::nullopt, 0, {}}},
        {"requests as whole float",
         R"({"available":false,"requestsSeen":5.0})",
         {std::nullopt, 5, {}}},
        {"requests as fraction",
         R"({"available":false,"requestsSeen":5.5})",
         {std::nullopt, 0, {}}},
        {"requests as boolean",
         R"({"available":false,"requestsSeen":true})",
         {std::nullopt, 0, {}}},
        {"requests at the 64-bit limit",
         R"({"available":false,"requestsSeen":9223372036854775807})",
         {std::nullopt, 9223372036854775807, {}}},
        {"requests past the 64-bit limit",
         R"({"available":false,"requestsSeen":9223372036854775808})",
         {std::nullopt, 0, {}}},
        {"requests far past the limit as float",
         R"({"available":false,"requestsSeen":1e300})",
         {std::nullopt, 0, {}}},
        {"requests negative", R"({"available":false,"requestsSeen":-3})", {std::nullopt, -3, {}}},
        {"last request as boolean",
         R"({"available":false,"lastRequestAt":true})",
         {std::nullopt, 0, {}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StatusClient::decode(c.body), c.expected) << c.name;
    }
}

TEST(StatusClientTest, DecodeRejectsWhatIsNotAStatusDocument) {
    for (const char* body :
         {"", "not json", "[]", "42", R"({"requestsSeen":1})", R"({"available":"true"})",
          R"({"available":null})", R"({"available":true)", "{\"available\":true}garbage",
          // A number beyond the double range makes the document unreadable.
          R"({"available":true,"capturedAt":1e999})"}) {
        EXPECT_EQ(StatusClient::decode(body), std::nullopt) << body;
    }
}

TEST(StatusClientTest, UrlNamesHostAndPort) {
    EXPECT_EQ(StatusClient(8787).url(), "http://127.0.0.1:8787/__meterly/status");
    EXPECT_EQ(StatusClient(9, "localhost").url(), "http://localhost:9/__meterly/status");
}

TEST(StatusClientTest, FetchReadsTheEndpoint) {
    LocalHTTPServer server(answering(LocalHTTPServer::reply("HTTP/1.1 200 OK", fullDocument)));
    StatusClient client(server.port());
    EXPECT_EQ(client.fetch(), fullReport());
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("GET /__meterly/status HTTP/1.1\r\n", 0), 0u) << requests[0];
}

TEST(StatusClientTest, FetchRefusesUnexpectedReplies) {
    const std::string bigBody =
        R"({"available":false,"pad":")" + std::string(StatusClient::maximumBodySize, 'x') + "\"}";
    const std::pair<const char*, std::string> cases[] = {
        {"server error",
         LocalHTTPServer::reply("HTTP/1.1 500 Internal Server Error", fullDocument)},
        {"no content", "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n"},
        {"redirect", "HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n"},
        {"not json", LocalHTTPServer::reply("HTTP/1.1 200 OK", "<html></html>", "text/html")},
        {"available missing", LocalHTTPServer::reply("HTTP/1.1 200 OK", R"({"requestsSeen":3})")},
        {"body over the limit", LocalHTTPServer::reply("HTTP/1.1 200 OK", bigBody)},
    };
    for (const auto& [name, reply] : cases) {
        LocalHTTPServer server(answering(reply));
        EXPECT_THROW(StatusClient(server.port()).fetch(), StatusClientError) << name;
    }
}

TEST(StatusClientTest, FetchReportsTransportFailures) {
    try {
        meterly::testing::ReservedPort closed;
        StatusClient(closed.port()).fetch();
        FAIL() << "nobody listens";
    } catch (const StatusTransportError& error) {
        EXPECT_EQ(error.kind(), StatusTransportError::Kind::connectionFailed) << error.what();
    }

    // A server that accepts the request and never answers.
    LocalHTTPServer silent([](const std::string&) { return std::nullopt; });
    auto started = std::chrono::steady_clock::now();
    try {
        StatusClient(silent.port(), "127.0.0.1", 0.2).fetch();
        FAIL() << "no reply";
    } catch (const StatusTransportError& error) {
        EXPECT_EQ(error.kind(), StatusTransportError::Kind::timedOut) << error.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST(StatusClientTest, FetchEndsWhenCancelled) {
    LocalHTTPServer silent([](const std::string&) { return std::nullopt; });
    CancellationToken token;
    std::thread canceller([&token, &silent] {
        // Cancel once the request has arrived, so that the fetch is under way.
        while (silent.requests().empty()) {
            std::this_thread::yield();
        }
        token.cancel();
    });
    try {
        StatusClient(silent.port(), "127.0.0.1", 30).fetch(&token);
        ADD_FAILURE() << "no reply";
    } catch (const StatusTransportError& error) {
        EXPECT_EQ(error.kind(), StatusTransportError::Kind::cancelled);
    }
    canceller.join();
}
