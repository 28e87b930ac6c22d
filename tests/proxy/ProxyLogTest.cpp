#include "proxy/ProxyLog.hpp"

#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace meterly::proxy {
namespace {

class CapturedSystemLog final : public SystemLog {
public:
    void write(std::string_view line) override {
        std::lock_guard guard(lock_);
        lines_.emplace_back(line);
    }
    std::vector<std::string> lines() {
        std::lock_guard guard(lock_);
        return lines_;
    }

private:
    std::mutex lock_;
    std::vector<std::string> lines_;
};

TEST(ProxyLogEventTest, LinesAreTheEventTexts) {
    struct Case {
        ProxyLogEvent event;
        std::string line;
    };
    const Case cases[] = {
        {ProxyLogEvent::listenerStarted(8787), "listening on 127.0.0.1:8787"},
        {ProxyLogEvent::listenerFailed(ProxyFailure::addressInUse),
         "listener failed: address already in use"},
        {ProxyLogEvent::upstreamFailed(ProxyFailure::timedOut), "upstream failed: timed out"},
        {ProxyLogEvent::responseObserved(429), "response status 429"},
        {ProxyLogEvent::clientError(ProxyFailure::headTooLarge),
         "client error: HTTP head too large"},
        {ProxyLogEvent::listenerStopped(), "listener stopped"},
        {ProxyLogEvent::clientAccepted(), "client connected"},
        {ProxyLogEvent::clientFinished(), "client disconnected"},
        {ProxyLogEvent::healthCheckServed(), "served health check"},
        {ProxyLogEvent::upstreamConnected(), "upstream connected"},
        {ProxyLogEvent::snapshotPublished(), "published usage snapshot"},
        {ProxyLogEvent::clientRejectedAtCapacity(), "client rejected: connection cap reached"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.event.description(), c.line);
    }
    EXPECT_EQ(ProxyLogEvent::responseObserved(200), ProxyLogEvent::responseObserved(200));
    EXPECT_FALSE(ProxyLogEvent::responseObserved(200) == ProxyLogEvent::responseObserved(201));
}

TEST(ProxyLogTest, SinkReplacesTheSystemLogUntilRemoved) {
    auto captured = std::make_shared<CapturedSystemLog>();
    auto previous = ProxyLog::setSystemLog(captured);

    std::vector<ProxyLogEvent> sunk;
    ProxyLog::setSink([&](const ProxyLogEvent& event) { sunk.push_back(event); });
    ProxyLog::emit(ProxyLogEvent::clientAccepted());
    EXPECT_EQ(sunk, std::vector{ProxyLogEvent::clientAccepted()});
    EXPECT_TRUE(captured->lines().empty());

    ProxyLog::setSink({});
    ProxyLog::emit(ProxyLogEvent::listenerStarted(8787));
    EXPECT_EQ(captured->lines(), std::vector<std::string>{"listening on 127.0.0.1:8787"});
    EXPECT_EQ(sunk.size(), 1U);

    ProxyLog::setSystemLog(previous);
}

} // namespace
} // namespace meterly::proxy
