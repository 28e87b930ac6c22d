#include "update/RemoteUpdateChecker.hpp"

#include "support/VirtualTimeExecutor.hpp"
#include "support/HeldReply.hpp"
#include "support/LocalHTTPServer.hpp"
#include "support/LocalTLSServer.hpp"
#include "update/UpdateCheckError.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>

namespace meterly::update {
namespace {

using testing::LocalHTTPServer;

const std::string feed =
    R"({"latest_version": "1.2.0", "download_url": "https://meterly.app/Meterly-1.2.0.tar.gz",
        "sha256": null, "critical": "true"})";

std::string redirectTo(const std::string& location) {
    return "HTTP/1.1 302 Found\r\nLocation: " + location +
           "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

class RemoteUpdateCheckerTest : public ::testing::Test {
protected:
    RemoteUpdateChecker checker(const std::string& url, core::Seconds idle = 10) {
        URLTransfer::Options options;
        options.idleTimeout = idle;
        options.certificateFile = certificateFile;
        return RemoteUpdateChecker(executor, url, options);
    }
    std::string local(std::uint16_t port, const std::string& path = "/version.json") {
        return "http://127.0.0.1:" + std::to_string(port) + path;
    }

    state::VirtualTimeExecutor executor;
    std::optional<std::string> certificateFile;
};

TEST_F(RemoteUpdateCheckerTest, TheBuiltInFeedIsTheMakersAndCannotBeOverridden) {
    EXPECT_EQ(RemoteUpdateChecker::resolvedURL(), RemoteUpdateChecker::defaultURL());
    EXPECT_TRUE(RemoteUpdateChecker::defaultURL().starts_with("https://"));
    EXPECT_TRUE(RemoteUpdateChecker::defaultURL().ends_with("/version.json"));
}

TEST_F(RemoteUpdateCheckerTest, FetchesAndDecodesTheFeedOnAWorker) {
    LocalHTTPServer server(
        [](const std::string&) { return LocalHTTPServer::reply("HTTP/1.1 200 OK", feed); });
    auto remote = checker(local(server.port()));
    std::optional<state::Outcome<UpdateInfo>> result;
    remote.fetchLatest([&result](state::Outcome<UpdateInfo> outcome) { result = outcome; });
    ASSERT_TRUE(executor.runUntil([&result] { return result.has_value(); }));
    const auto& info = result->get();
    EXPECT_EQ(info.latestVersion, "1.2.0");
    EXPECT_EQ(info.sha256, std::nullopt);
    EXPECT_EQ(info.critical, std::nullopt);
    EXPECT_EQ(remote.fetchLatestNow(), info);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].starts_with("GET /version.json HTTP/1.1\r\n"));
}

TEST_F(RemoteUpdateCheckerTest, AnythingButAFeedWithStatus200IsAnUnexpectedResponse) {
    const std::string replies[] = {
        LocalHTTPServer::reply("HTTP/1.1 404 Not Found", feed),
        LocalHTTPServer::reply("HTTP/1.1 500 Internal Server Error", feed),
        "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n",
        LocalHTTPServer::reply("HTTP/1.1 200 OK", R"({"latest_version": "1", "download_url": 4})"),
        LocalHTTPServer::reply("HTTP/1.1 200 OK", "<html></html>", "text/html"),
        // One byte over the feed's limit.
        LocalHTTPServer::reply("HTTP/1.1 200 OK",
                               feed +
                                   std::string(UpdateInfo::maxDocumentSize + 1 - feed.size(), ' ')),
    };
    for (const auto& reply : replies) {
        LocalHTTPServer server([&reply](const std::string&) { return reply; });
        EXPECT_THROW(checker(local(server.port())).fetchLatestNow(), UpdateCheckError)
            << reply.substr(0, 40);
    }
    // A feed of exactly the limit is read.
    LocalHTTPServer server([](const std::string&) {
        return LocalHTTPServer::reply(
            "HTTP/1.1 200 OK", feed + std::string(UpdateInfo::maxDocumentSize - feed.size(), ' '));
    });
    EXPECT_EQ(checker(local(server.port())).fetchLatestNow().latestVersion, "1.2.0");
}

TEST_F(RemoteUpdateCheckerTest, FollowsRedirectsToHTTPAndHTTPSOnly) {
    testing::LocalTLSServer secure(
        [](testing::UpstreamConnection& connection, const testing::HTTPMessage&) {
            connection.write(LocalHTTPServer::reply("HTTP/1.1 200 OK", feed));
            connection.close();
        });
    certificateFile = secure.certificateFile().string();
    LocalHTTPServer server([&secure](const std::string& head) -> std::optional<std::string> {
        if (head.starts_with("GET /moved ")) {
            return redirectTo("/version.json");
        }
        if (head.starts_with("GET /secure ")) {
            return redirectTo("https://127.0.0.1:" + std::to_string(secure.port()) + "/v.json");
        }
        if (head.starts_with("GET /ftp ")) {
            return redirectTo("ftp://127.0.0.1/version.json");
        }
        if (head.starts_with("GET /file ")) {
            return redirectTo("file:///etc/hostname");
        }
        return LocalHTTPServer::reply("HTTP/1.1 200 OK", feed);
    });
    EXPECT_EQ(checker(local(server.port(), "/moved")).fetchLatestNow().latestVersion, "1.2.0");
    EXPECT_EQ(checker(local(server.port(), "/secure")).fetchLatestNow().latestVersion, "1.2.0");
    EXPECT_EQ(secure.requests().size(), 1u);
    EXPECT_THROW(checker(local(server.port(), "/ftp")).fetchLatestNow(), TransferError);
    EXPECT_THROW(checker(local(server.port(), "/file")).fetchLatestNow(), TransferError);
    EXPECT_THROW(checker("file:///etc/hostname").fetchLatestNow(), TransferError);
}

TEST_F(RemoteUpdateCheckerTest, TransportFailuresPassUnchanged) {
    testing::ReservedPort closed;
    EXPECT_THROW(checker(local(closed.port())).fetchLatestNow(), TransferError);

    // A server that accepts and then says nothing is given up after the idle time-out.
    LocalHTTPServer silent([](const std::string&) { return std::nullopt; });
    const auto began = std::chrono::steady_clock::now();
    try {
        checker(local(silent.port()), 1).fetchLatestNow();
        ADD_FAILURE() << "a silent server answered";
    } catch (const TransferError& error) {
        EXPECT_EQ(error.kind(), TransferError::Kind::transport);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(8));
}

TEST_F(RemoteUpdateCheckerTest, DestroyingTheCheckerStopsARequestThatStalls) {
    using namespace std::chrono_literals;
    // The server takes the request and holds it for up to a minute before it answers; the
    // request's own time-out is longer still.
    testing::HeldReply stall(60s);
    LocalHTTPServer server([&stall](const std::string&) {
        stall.hold();
        return LocalHTTPServer::reply("HTTP/1.1 200 OK", feed);
    });
    URLTransfer::Options options;
    options.idleTimeout = 120;
    auto remote = std::make_unique<RemoteUpdateChecker>(executor, local(server.port()), options);
    bool finished = false;
    remote->fetchLatest([&finished](const state::Outcome<UpdateInfo>&) { finished = true; });
    ASSERT_TRUE(stall.waitUntilHolding(20s));

    remote.reset();
    EXPECT_FALSE(stall.ended()) << "destruction waited for the server's answer";
    stall.release();
    executor.runReady();
    EXPECT_FALSE(finished) << "a result arrived after destruction";
}

} // namespace
} // namespace meterly::update
