#pragma once

#include "core/Time.hpp"
#include "core/UsageSnapshot.hpp"

#include <functional>
#include <optional>

namespace meterly::state {

// What the usage view model asks of the limit notifier. Every call comes on the main executor;
// the operations that take `done` call it there once their work has finished (at once when there
// was nothing to do).
class UsageNotifier {
public:
    using Done = std::function<void()>;

    virtual ~UsageNotifier() = default;

    // Decides once how notifications are delivered.
    virtual void prime(Done done) = 0;
    // Plans reset alerts and delivers the deepest newly crossed threshold for a new reading.
    virtual void refresh(const std::optional<core::UsageSnapshot>& snapshot, core::Date now,
                         Done done) = 0;
    // Delivers waiting reset alerts that are due.
    virtual void tick(core::Date now) = 0;
    // Re-plans after a notification switch changed.
    virtual void preferencesChanged(const std::optional<core::UsageSnapshot>& snapshot,
                                    core::Date now, Done done) = 0;
};

} // namespace meterly::state
