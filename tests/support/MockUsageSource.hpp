#pragma once

#include "core/Time.hpp"
#include "core/UsageSource.hpp"

namespace meterly::core {

// A usage source that needs no proxy: both windows fill up step by step, show "rejected" for one
// snapshot when full, and start over. Keeps the default events().
class MockUsageSource : public UsageSource {
public:
    // `now` stamps the snapshots and fixes each stream's reset times.
    MockUsageSource(Seconds interval, double startUtilization, double step, Clock now = systemNow);

    // A new stream fed by its own task, one snapshot at once and then one after every interval.
    AsyncStream<UsageSnapshot> snapshots() override;

    Seconds interval() const { return interval_; }
    double startUtilization() const { return startUtilization_; }
    double step() const { return step_; }

private:
    Seconds interval_;
    double startUtilization_;
    double step_;
    Clock now_;
};

} // namespace meterly::core
