#pragma once

#include "core/AsyncStream.hpp"
#include "state/MainExecutor.hpp"
#include "state/UsageFeed.hpp"

#include <memory>
#include <utility>
#include <vector>

namespace meterly::testing {

// A usage feed whose events the test sends by hand, to the delivery of the latest listen() call.
// Each event reaches the handler as a job of the main executor, as a worker's result does. Used
// on the main executor's thread only.
class ScriptedUsageSource final : public state::UsageFeed {
public:
    explicit ScriptedUsageSource(state::MainExecutor& main) : main_(main) {}

    state::Subscription listen(Handler handler) override {
        auto delivery = std::make_shared<Delivery>();
        delivery->handler = std::move(handler);
        deliveries_.push_back(delivery);
        return state::Subscription([delivery] {
            delivery->open = false;
            delivery->handler = {};
        });
    }
    // Terminated once the latest delivery has ended (or when there is none).
    core::YieldResult send(core::UsageSourceEvent event) {
        if (deliveries_.empty() || !deliveries_.back()->open) {
            return core::YieldResult::terminated;
        }
        main_.post([delivery = deliveries_.back(), event = std::move(event)] {
            if (auto handle = delivery->handler) {
                handle(event);
            }
        });
        return core::YieldResult::enqueued;
    }
    // Ends the latest delivery from the source's side: what was sent before still arrives.
    void finish() {
        if (!deliveries_.empty()) {
            deliveries_.back()->open = false;
        }
    }

private:
    struct Delivery {
        Handler handler;
        bool open = true;
    };
    state::MainExecutor& main_;
    std::vector<std::shared_ptr<Delivery>> deliveries_;
};

} // namespace meterly::testing
