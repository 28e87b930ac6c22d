#pragma once

#include "core/CancellationToken.hpp"
#include "core/Time.hpp"
#include "proxy/StatusClient.hpp"
#include "state/MainExecutor.hpp"
#include "state/UsageFeed.hpp"
#include "state/Worker.hpp"

#include <functional>

namespace meterly::state {

// The app's usage source: reads the proxy's status endpoint on a worker, at once and then one
// interval after each reading (a timer of the main executor), and hands the main executor a
// status event when a reading tells something new (or the proxy answers again after three or
// more failures), and an unreachable event at the 3rd and every 15th failed reading in a row.
class PollingUsageSource final : public UsageFeed {
public:
    // One reading; throws on any failure. Runs on the worker.
    using Fetch = std::function<proxy::ProxyStatusReport(const core::CancellationToken&)>;

    // `main` and `worker` outlive every delivery the source starts.
    PollingUsageSource(MainExecutor& main, Worker& worker, proxy::StatusClient client,
                       core::Seconds interval);
    PollingUsageSource(MainExecutor& main, Worker& worker, Fetch fetch, core::Seconds interval);

    core::Seconds interval() const { return interval_; }

    // Each call starts a poller of its own, which takes its first reading at once. Resetting the
    // subscription cancels the pause or the reading in flight; the result of that reading is
    // dropped.
    Subscription listen(Handler handler) override;

private:
    class Poller;

    MainExecutor& main_;
    Worker& worker_;
    Fetch fetch_;
    core::Seconds interval_;
};

} // namespace meterly::state
