#pragma once

#include "core/UsageSourceEvent.hpp"
#include "state/ChangeSignal.hpp"

#include <functional>

namespace meterly::state {

// Where the tray app's usage events come from. A feed runs on the main executor: each listen()
// starts a delivery of its own, which calls the handler there, one event at a time and in order.
class UsageFeed {
public:
    using Handler = std::function<void(const core::UsageSourceEvent&)>;

    virtual ~UsageFeed() = default;

    // Starts a delivery and returns at once; called on the main executor. The delivery does not
    // need the feed to stay alive. Once the subscription is reset or destroyed (the handler may
    // do so while it runs), the handler is not called again.
    [[nodiscard]] virtual Subscription listen(Handler handler) = 0;
};

} // namespace meterly::state
