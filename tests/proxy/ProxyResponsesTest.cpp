#include "proxy/ProxyResponses.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <nlohmann/json.hpp>

using namespace meterly::proxy;
using meterly::core::LimitWindow;
using meterly::core::UsageSnapshot;

namespace {

std::string text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string rendered(const CannedResponse& reply) {
    return text(reply.head.serialized()) + text(reply.body);
}

nlohmann::json statusJson(const std::optional<UsageSnapshot>& snapshot, std::int64_t seen,
                          std::optional<double> last) {
    auto reply = ProxyResponses::status(snapshot, seen, last);
    return nlohmann::json::parse(text(reply.body));
}

} // namespace

TEST(ProxyResponsesTest, HealthCheckHasNoBody) {
    EXPECT_EQ(text(ProxyResponses::healthCheck().serialized()),
              "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nCache-Control: no-store\r\n\r\n");
}

TEST(ProxyResponsesTest, BadRequestIsOneFixedReply) {
    const std::string body = R"({"type":"error","error":{"type":"invalid_request_error",)"
                             R"("message":"Meterly proxy: malformed HTTP request"}})";
    ASSERT_EQ(body.size(), 107u);
    const std::string expected = "HTTP/1.1 400 Bad Request\r\nContent-Type: application/json\r\n"
                                 "Content-Length: 107\r\nConnection: close\r\n\r\n" +
                                 body;
    for (ProxyFailure failure :
         {ProxyFailure::headTooLarge, ProxyFailure::timedOut, ProxyFailure::malformedMessage}) {
        EXPECT_EQ(rendered(ProxyResponses::badRequest(failure)), expected) << failure;
    }
}

TEST(ProxyResponsesTest, GatewayErrorNamesHostAndFailure) {
    struct Case {
        ProxyFailure failure;
        const char* statusLine;
        const char* explanation;
    };
    const Case cases[] = {
        {ProxyFailure::timedOut, "HTTP/1.1 504 Gateway Timeout", "timed out"},
        {ProxyFailure::dnsFailure, "HTTP/1.1 502 Bad Gateway", "DNS lookup failed"},
        {ProxyFailure::other, "HTTP/1.1 502 Bad Gateway", "unknown network error"},
    };
    for (const auto& c : cases) {
        auto reply = ProxyResponses::gatewayError(c.failure, "api.example.test");
        auto head = text(reply.head.serialized());
        EXPECT_EQ(head.substr(0, head.find("\r\n")), c.statusLine);
        EXPECT_EQ(reply.head.headers()["Content-Length"], std::to_string(reply.body.size()));
        EXPECT_EQ(reply.head.headers()["Connection"], "close");
        EXPECT_EQ(reply.head.headers()["Content-Type"], "application/json");
        auto document = nlohmann::json::parse(text(reply.body));
        EXPECT_EQ(document["type"], "error");
        EXPECT_EQ(document["error"]["type"], "api_error");
        EXPECT_EQ(document["error"]["message"],
                  std::string("Meterly proxy could not reach api.example.test (") + c.explanation +
                      "). Claude Code traffic is not being forwarded. Check that you are online, "
                      "or run `scripts/uninstall.sh` to remove ANTHROPIC_BASE_URL and go direct.");
    }
}

TEST(ProxyResponsesTest, GatewayErrorFallsBackToFixedText) {
    auto reply = ProxyResponses::gatewayError(ProxyFailure::other, "bad\xff host");
    EXPECT_EQ(
        text(reply.body),
        R"({"type":"error","error":{"type":"api_error","message":"Meterly proxy: upstream unreachable"}})");
    EXPECT_EQ(reply.body.size(), 93u);
    EXPECT_EQ(reply.head.headers()["Content-Length"], "93");
}

TEST(ProxyResponsesTest, StatusDocumentHoldsOnlyKnownValues) {
    auto reply = ProxyResponses::status(std::nullopt, 0, std::nullopt);
    EXPECT_EQ(text(reply.head.serialized()),
              "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                  std::to_string(reply.body.size()) + "\r\nCache-Control: no-store\r\n\r\n");
    EXPECT_EQ(nlohmann::json::parse(text(reply.body)),
              (nlohmann::json{{"available", false}, {"requestsSeen", 0}}));

    UsageSnapshot bare;
    bare.capturedAt = 1700000000.25;
    EXPECT_EQ(statusJson(bare, 3, 1700000001.5), (nlohmann::json{{"available", true},
                                                                 {"requestsSeen", 3},
                                                                 {"lastRequestAt", 1700000001.5},
                                                                 {"capturedAt", 1700000000.25}}));
    EXPECT_EQ(statusJson(bare, 3, std::nullopt).count("lastRequestAt"), 0u);
}

TEST(ProxyResponsesTest, StatusDocumentWritesWindowsUnchanged) {
    UsageSnapshot full{LimitWindow{"allowed", 1.07, 1800}, LimitWindow{"rejected", 0.5, 9000},
                       "seven_day", "", 1000.5};
    auto document = statusJson(full, 9, 1001);
    EXPECT_EQ(document,
              (nlohmann::json{
                  {"available", true},
                  {"requestsSeen", 9},
                  {"lastRequestAt", 1001.0},
                  {"capturedAt", 1000.5},
                  {"representativeClaim", "seven_day"},
                  {"overageStatus", ""},
                  {"fiveHour", {{"status", "allowed"}, {"utilization", 1.07}, {"resetAt", 1800.0}}},
                  {"sevenDay", {{"status", "rejected"}, {"utilization", 0.5}, {"resetAt", 9000.0}}},
              }));
    auto body = ProxyResponses::statusDocument(full, 9, 1001);
    EXPECT_EQ(body.find_first_of(" \n"), std::string::npos) << "written compactly";
}

TEST(ProxyResponsesTest, UnrepresentableStatusFallsBack) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    UsageSnapshot notFinite{LimitWindow{"allowed", nan, 1}, std::nullopt, std::nullopt,
                            std::nullopt, 1};
    UsageSnapshot badText{LimitWindow{"allowed\xc3", 0.1, 1}, std::nullopt, std::nullopt,
                          std::nullopt, 1};
    UsageSnapshot infiniteCapture{std::nullopt, std::nullopt, std::nullopt, std::nullopt, inf};
    for (const auto& snapshot : {notFinite, badText, infiniteCapture}) {
        auto reply = ProxyResponses::status(snapshot, 1, 1.0);
        EXPECT_EQ(text(reply.body), R"({"available":false})");
        EXPECT_EQ(reply.head.headers()["Content-Length"], "19");
    }
}
