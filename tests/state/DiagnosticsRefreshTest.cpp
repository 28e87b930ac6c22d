#include "state/DiagnosticsRefresh.hpp"

#include <gtest/gtest.h>
#include <map>

namespace meterly::state {
namespace {

ProxyDiagnostics answering(bool answers) {
    ProxyDiagnostics found;
    found.baseURL = "http://127.0.0.1:8787";
    found.port = 8787;
    found.agentLoaded = true;
    found.answering = answers;
    return found;
}

// Operations that finish only when the test says so, in any order.
struct HeldOperations {
    std::map<int, DiagnosticsRefresh::ReadDone> reads;
    std::vector<std::optional<core::Date>> lastTraffics;
    std::function<void()> restart;
    std::function<void()> repair;
    std::vector<std::uint16_t> repairedPorts;
    std::optional<core::Date> lastTraffic;

    DiagnosticsRefresh::Operations operations() {
        DiagnosticsRefresh::Operations ops;
        ops.read = [this](std::optional<core::Date> last, DiagnosticsRefresh::ReadDone done) {
            lastTraffics.push_back(last);
            reads.emplace(static_cast<int>(reads.size()) + 1, std::move(done));
        };
        ops.restartAgent = [this](std::function<void()> done) { restart = std::move(done); };
        ops.repair = [this](std::uint16_t port, std::function<void()> done) {
            repairedPorts.push_back(port);
            repair = std::move(done);
        };
        ops.lastTraffic = [this] { return lastTraffic; };
        return ops;
    }
};

TEST(DiagnosticsRefreshTest, OnlyTheNewestReadWritesAndRefreshingLastsUntilItEnds) {
    HeldOperations held;
    DiagnosticsRefresh refresh(held.operations());
    EXPECT_FALSE(refresh.diagnostics());
    EXPECT_FALSE(refresh.refreshing());

    held.lastTraffic = 1'800'000'000;
    refresh.refresh();
    refresh.refresh();
    EXPECT_TRUE(refresh.refreshing());
    EXPECT_EQ(held.lastTraffics.back(), held.lastTraffic);

    // The newer read ("answering") ends first; the stale "no answer" that ends after it is
    // dropped.
    held.reads.at(2)(answering(true));
    EXPECT_EQ(refresh.diagnostics(), answering(true));
    EXPECT_FALSE(refresh.refreshing());
    held.reads.at(1)(answering(false));
    EXPECT_EQ(refresh.diagnostics(), answering(true));
    EXPECT_FALSE(refresh.refreshing());

    // In order: the older result is dropped too, and the flag waits for the newest.
    refresh.refresh();
    refresh.refresh();
    held.reads.at(3)(answering(false));
    EXPECT_TRUE(refresh.refreshing());
    EXPECT_EQ(refresh.diagnostics(), answering(true));
    held.reads.at(4)(answering(false));
    EXPECT_EQ(refresh.diagnostics(), answering(false));
    EXPECT_FALSE(refresh.refreshing());
}

TEST(DiagnosticsRefreshTest, RestartAndRepairReadAgainOnlyOnceTheyHaveEnded) {
    HeldOperations held;
    DiagnosticsRefresh refresh(held.operations());
    int changes = 0;
    auto watching = refresh.changed().connect([&] { ++changes; });

    refresh.restartAgent();
    EXPECT_TRUE(refresh.restarting());
    refresh.restartAgent(); // ignored while one runs
    EXPECT_TRUE(held.reads.empty());
    held.restart();
    EXPECT_FALSE(refresh.restarting());
    EXPECT_EQ(held.reads.size(), 1u);

    refresh.repair(8787);
    refresh.repair(8787);
    EXPECT_EQ(held.repairedPorts, std::vector<std::uint16_t>{8787});
    EXPECT_TRUE(refresh.repairing());
    EXPECT_EQ(held.reads.size(), 1u);
    held.repair();
    EXPECT_FALSE(refresh.repairing());
    EXPECT_EQ(held.reads.size(), 2u);
    EXPECT_GT(changes, 0);
}

TEST(DiagnosticsRefreshTest, AResultAfterTheWindowHasGoneIsDropped) {
    HeldOperations held;
    auto refresh = std::make_unique<DiagnosticsRefresh>(held.operations());
    refresh->refresh();
    refresh->restartAgent();
    refresh.reset();
    held.reads.at(1)(answering(true));
    held.restart();
    EXPECT_EQ(held.reads.size(), 1u);
}

} // namespace
} // namespace meterly::state
