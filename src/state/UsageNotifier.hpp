#pragma once

#include "core/Time.hpp"
#include "core/UsageSnapshot.hpp"

#include <functional>
#include <optional>

namespace meterly::state {

// What the usage view model asks of the limit notifier. Main executor only.
class UsageNotifier {
public:
    virtual ~UsageNotifier() = default;

    // Decides once how notifications are delivered; `done` runs on the main executor afterwards.
    virtual void prime(std::function<void()> done = {}) = 0;
    // A new reading: plans its reset alerts and delivers the deepest newly crossed threshold.
    // `done` runs once the work is done.
    virtual void refresh(const std::optional<core::UsageSnapshot>& snapshot, core::Date now,
                         std::function<void()> done = {}) = 0;
    // Delivers waiting reset alerts that are due.
    virtual void tick(core::Date now) = 0;
    // Re-plans after a notification switch changed.
    virtual void preferencesChanged(const std::optional<core::UsageSnapshot>& snapshot,
                                    core::Date now, std::function<void()> done = {}) = 0;
};

} // namespace meterly::state
