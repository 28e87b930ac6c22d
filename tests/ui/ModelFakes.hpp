#pragma once

#include "core/AsyncStream.hpp"
#include "core/UsageSource.hpp"
#include "state/UsageNotifier.hpp"

#include <functional>
#include <mutex>
#include <vector>

namespace meterly::ui {

// Delivers nothing and is done at once.
class QuietNotifier final : public state::UsageNotifier {
public:
    void prime(std::function<void()> done) override { finish(done); }
    void refresh(const std::optional<core::UsageSnapshot>&, core::Date,
                 std::function<void()> done) override {
        finish(done);
    }
    void tick(core::Date) override {}
    void preferencesChanged(const std::optional<core::UsageSnapshot>&, core::Date,
                            std::function<void()> done) override {
        finish(done);
    }

private:
    static void finish(const std::function<void()>& done) {
        if (done) {
            done();
        }
    }
};

// A usage source whose events the test sends by hand.
class ScriptedSource final : public core::UsageSource {
public:
    core::AsyncStream<core::UsageSnapshot> snapshots() override {
        return core::AsyncStream<core::UsageSnapshot>::make().first;
    }
    core::AsyncStream<core::UsageSourceEvent> events() override {
        auto [stream, producer] = core::AsyncStream<core::UsageSourceEvent>::make();
        std::lock_guard lock(mutex_);
        producers_.push_back(producer);
        return std::move(stream);
    }
    void send(core::UsageSourceEvent event) {
        std::lock_guard lock(mutex_);
        producers_.back().yield(std::move(event));
    }

private:
    std::mutex mutex_;
    std::vector<core::AsyncStream<core::UsageSourceEvent>::Continuation> producers_;
};

inline core::UsageSnapshot snapshot(double utilization, core::Date capturedAt) {
    core::UsageSnapshot reading;
    reading.fiveHour = core::LimitWindow{"allowed", utilization, capturedAt + 7200};
    reading.sevenDay = core::LimitWindow{"allowed", 0.3, capturedAt + 200'000};
    reading.capturedAt = capturedAt;
    return reading;
}

} // namespace meterly::ui
