#include "config/ProxyHealthProbe.hpp"

#include "support/LocalHTTPServer.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>

namespace meterly::config {
namespace {

using ::testing::ElementsAre;
using testing::LocalHTTPServer;
using testing::ReservedPort;
using ::testing::StartsWith;

// Answers every request with `status` and no body, as a running proxy would.
LocalHTTPServer::Responder answering(int status) {
    return [status](const std::string&) {
        return LocalHTTPServer::reply("HTTP/1.1 " + std::to_string(status) + " Status", "");
    };
}

TEST(ProxyHealthProbeTest, OnlyASuccessfulStatusIsHealthy) {
    struct Case {
        int status;
        bool healthy;
    };
    for (auto c :
         {Case{200, true}, Case{204, true}, Case{404, false}, Case{500, false}, Case{302, false}}) {
        LocalHTTPServer proxy(answering(c.status));
        ProxyHealthProbe probe(proxy.port(), "127.0.0.1", 1, 0.5);
        EXPECT_EQ(probe.isHealthy(), c.healthy) << c.status;
        EXPECT_THAT(proxy.requests(), ElementsAre(StartsWith("HEAD /api/hello HTTP/1.1\r\n")));
    }
}

TEST(ProxyHealthProbeTest, ARefusedPortFailsAfterEveryAttemptWithAPauseBetween) {
    ReservedPort nobody;
    std::vector<core::Seconds> pauses;
    ProxyHealthProbe probe(nobody.port(), "127.0.0.1", 4, 0.5,
                           [&](core::Seconds s) { pauses.push_back(s); });
    EXPECT_FALSE(probe.isHealthy());
    EXPECT_EQ(pauses, (std::vector<core::Seconds>{0.5, 0.5, 0.5}));
    pauses.clear();
    EXPECT_FALSE(probe.waitUntilHealthy());
    EXPECT_EQ(pauses, (std::vector<core::Seconds>{0.5, 0.5, 0.5}));
    pauses.clear();
    EXPECT_FALSE(probe.answersOnce());
    EXPECT_TRUE(pauses.empty());
}

TEST(ProxyHealthProbeTest, AProxyThatComesUpOnTheThirdTryEndsTheWait) {
    ReservedPort port;
    std::unique_ptr<LocalHTTPServer> proxy;
    int pauses = 0;
    ProxyHealthProbe probe(port.port(), "127.0.0.1", 20, 0.5, [&](core::Seconds) {
        if (++pauses == 2) {
            port.release();
            proxy = std::make_unique<LocalHTTPServer>(answering(200), port.port());
        }
    });
    EXPECT_TRUE(probe.isHealthy());
    EXPECT_EQ(pauses, 2);
    ASSERT_TRUE(proxy);
    EXPECT_EQ(proxy->requests().size(), 1u);
}

TEST(ProxyHealthProbeTest, AttemptsUrlAndBudget) {
    int pauses = 0;
    ReservedPort nobody;
    ProxyHealthProbe once(nobody.port(), "127.0.0.1", 0, 0.5, [&](core::Seconds) { ++pauses; });
    EXPECT_EQ(once.attempts(), 1);
    EXPECT_FALSE(once.waitUntilHealthy());
    EXPECT_EQ(pauses, 0);
    EXPECT_EQ(ProxyHealthProbe(8787, "127.0.0.1", -3, 1).attempts(), 1);

    EXPECT_EQ(ProxyHealthProbe(8787, "127.0.0.1", 20, 0.5).url(),
              "http://127.0.0.1:8787/api/hello");

    struct Case {
        int attempts;
        core::Seconds interval;
        int budget;
    };
    for (auto c : {Case{1, 0.5, 1}, Case{20, 0.5, 10}, Case{1, 0.1, 1}, Case{3, 0.5, 2},
                   Case{5, 0.5, 3}, Case{1, 0.0, 1}}) {
        EXPECT_EQ(ProxyHealthProbe(8787, "127.0.0.1", c.attempts, c.interval).budgetSeconds(),
                  c.budget)
            << c.attempts << " x " << c.interval;
    }
}

} // namespace
} // namespace meterly::config
