#pragma once

#include "core/AsyncStream.hpp"
#include "core/UsageSource.hpp"

#include <mutex>
#include <utility>
#include <vector>

namespace meterly::testing {

// A usage source whose events the test sends by hand, to the stream of the latest events() call.
class ScriptedUsageSource final : public core::UsageSource {
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
    core::YieldResult send(core::UsageSourceEvent event) {
        std::lock_guard lock(mutex_);
        return producers_.back().yield(std::move(event));
    }
    void finish() {
        std::lock_guard lock(mutex_);
        producers_.back().finish();
    }

private:
    std::mutex mutex_;
    std::vector<core::AsyncStream<core::UsageSourceEvent>::Continuation> producers_;
};

} // namespace meterly::testing
