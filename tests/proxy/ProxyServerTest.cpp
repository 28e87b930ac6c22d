#include "proxy/ProxyServer.hpp"

#include "ProxyHarness.hpp"
#include "proxy/ProxyError.hpp"
#include "proxy/SessionRegistry.hpp"

#include <asio/io_context.hpp>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace meterly::proxy {
namespace {

using namespace testing;

const std::string healthCheck = "HEAD /api/hello HTTP/1.1\r\n\r\n";

bool answersHealthCheck(TestClient& client) {
    if (!client.send(healthCheck)) {
        return false;
    }
    const auto reply = client.readResponse("HEAD");
    return reply && reply->status() == 200;
}

// Waits (at most 10 s) until the server holds `count` live sessions.
bool waitForLiveSessions(ProxyServer& server, std::size_t count) {
    for (int i = 0; i < 10000; ++i) {
        if (server.liveSessionCount() == count) {
            return true;
        }
        std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

TEST(ProxyServerTest, StartsOnceOnTheChosenPort) {
    LogCapture log;
    ProxyServer server(localConfiguration(443), std::make_shared<ProxyUsageSource>());
    EXPECT_FALSE(server.isRunning());
    EXPECT_EQ(server.port(), std::nullopt);
    const auto port = server.start();
    EXPECT_NE(port, 0);
    EXPECT_EQ(server.start(), port);
    EXPECT_EQ(server.port(), port);
    EXPECT_TRUE(server.isRunning());
    EXPECT_EQ(log.count("listening on 127.0.0.1:" + std::to_string(port)), 1U);
    TestClient client(port);
    EXPECT_TRUE(answersHealthCheck(client));
}

TEST(ProxyServerTest, ABusyPortFailsTheStart) {
    LogCapture log;
    ProxyServer first(localConfiguration(443), std::make_shared<ProxyUsageSource>());
    auto configuration = localConfiguration(443);
    configuration.port = first.start();
    ProxyServer second(configuration, std::make_shared<ProxyUsageSource>());
    try {
        second.start();
        FAIL() << "a second listener on the same port started";
    } catch (const ProxyError& error) {
        EXPECT_EQ(error, ProxyError::network(ProxyFailure::addressInUse));
        EXPECT_STREQ(error.what(), "network(addressInUse)");
    }
    EXPECT_EQ(log.count("listener failed: address already in use"), 1U);
    EXPECT_FALSE(second.isRunning());
}

TEST(ProxyServerTest, RefusesConnectionsBeyondTheCap) {
    ProxyHarness proxy;
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 128; ++i) {
        clients.push_back(std::make_unique<TestClient>(proxy.port()));
        ASSERT_TRUE(answersHealthCheck(*clients.back())) << i;
    }
    EXPECT_EQ(proxy.server().liveSessionCount(), 128U);

    TestClient refused(proxy.port());
    EXPECT_TRUE(proxy.log().waitFor("client rejected: connection cap reached"));
    EXPECT_TRUE(refused.closedByPeer());

    clients.front().reset();
    ASSERT_TRUE(waitForLiveSessions(proxy.server(), 127));
    TestClient admitted(proxy.port());
    EXPECT_TRUE(answersHealthCheck(admitted));
}

TEST(ProxyServerTest, StopCancelsEveryClientAndEndsTheUsageStreams) {
    ProxyHarness proxy;
    auto snapshots = proxy.usage().snapshots();
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<TestClient>(proxy.port()));
        ASSERT_TRUE(answersHealthCheck(*clients.back()));
    }
    proxy.server().stop();
    EXPECT_FALSE(proxy.server().isRunning());
    EXPECT_EQ(proxy.server().port(), std::nullopt);
    for (auto& client : clients) {
        EXPECT_TRUE(client->closedByPeer());
    }
    EXPECT_EQ(snapshots.next(std::chrono::seconds(10)), std::nullopt);
    EXPECT_TRUE(snapshots.isEnded());
    EXPECT_TRUE(proxy.log().waitFor("client disconnected", 8));
    EXPECT_EQ(proxy.log().count("listener stopped"), 1U);
    // Nothing listens any more.
    EXPECT_THROW(TestClient(proxy.port()), std::runtime_error);
}

TEST(ProxyServerTest, StoppingAServerThatNeverStartedStillEndsIt) {
    LogCapture log;
    auto usage = std::make_shared<ProxyUsageSource>();
    auto snapshots = usage->snapshots();
    ProxyServer server(localConfiguration(443), usage);
    server.stop();
    EXPECT_EQ(log.lines(), std::vector<std::string>{"listener stopped"});
    EXPECT_TRUE(snapshots.isEnded());
}

TEST(ProxyServerTest, ServesManyClientsAtOnce) {
    ProxyHarness proxy;
    proxy.setResponder([](UpstreamConnection& connection, const HTTPMessage& request) {
        connection.write(cannedResponse(200, "OK",
                                        {{"anthropic-ratelimit-unified-5h-utilization", "0.25"},
                                         {"anthropic-ratelimit-unified-5h-reset", "1700000000"}},
                                        request.target()));
    });
    constexpr int clients = 24;
    constexpr int requestsEach = 10;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            TestClient client(proxy.port());
            for (int j = 0; j < requestsEach; ++j) {
                const auto target = "/" + std::to_string(i) + "/" + std::to_string(j);
                client.send("GET " + target + " HTTP/1.1\r\n\r\n");
                const auto response = client.readResponse();
                if (response && response->body == target) {
                    ++good;
                }
                if (j % 3 == 0) {
                    client.send("GET /__meterly/status HTTP/1.1\r\n\r\n");
                    client.readResponse();
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(good.load(), clients * requestsEach);
    EXPECT_EQ(proxy.usage().requestsSeen(), clients * requestsEach);
    EXPECT_EQ(proxy.upstream().connectionsAccepted(), clients);
    ASSERT_TRUE(proxy.usage().latest());
}

TEST(SessionRegistryTest, AdmitsUpToTheLimitUntilClosed) {
    asio::io_context io;
    SessionRegistry registry;
    std::vector<std::shared_ptr<NetworkStream>> streams;
    for (int i = 0; i < 4; ++i) {
        streams.push_back(NetworkStream::accepted(asio::ip::tcp::socket(io), 16));
    }
    EXPECT_TRUE(registry.admit(streams[0], 2));
    EXPECT_TRUE(registry.admit(streams[1], 2));
    EXPECT_FALSE(registry.admit(streams[2], 2));
    registry.remove(streams[0].get());
    registry.remove(streams[3].get()); // never admitted: no effect
    EXPECT_EQ(registry.count(), 1U);
    EXPECT_TRUE(registry.admit(streams[2], 2));
    registry.cancelAll();
    EXPECT_EQ(registry.count(), 0U);
    EXPECT_FALSE(registry.admit(streams[3], 2));
    registry.reopen();
    EXPECT_TRUE(registry.admit(streams[3], 2));
}

TEST(SessionRegistryTest, ConcurrentAdmissionsNeverPassTheLimit) {
    asio::io_context io;
    SessionRegistry registry;
    constexpr std::size_t limit = 16;
    std::atomic<int> admitted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                auto stream = NetworkStream::accepted(asio::ip::tcp::socket(io), 16);
                if (registry.admit(stream, limit)) {
                    ++admitted;
                    EXPECT_LE(registry.count(), limit);
                    registry.remove(stream.get());
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_GT(admitted.load(), 0);
    EXPECT_EQ(registry.count(), 0U);
}

} // namespace
} // namespace meterly::proxy
