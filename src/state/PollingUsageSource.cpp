#include "state/PollingUsageSource.hpp"

#include <cstdint>
#include <memory>
#include <optional>

namespace meterly::state {

using core::UsageSourceEvent;
using proxy::ProxyStatusReport;

// One delivery: a reading on the worker, its event on the main executor, a pause, the next
// reading. Everything but the reading itself runs on the main executor.
class PollingUsageSource::Poller : public std::enable_shared_from_this<Poller> {
public:
    Poller(MainExecutor& main, Worker& worker, Fetch fetch, core::Seconds interval, Handler handler)
        : main_(main), worker_(worker), fetch_(std::move(fetch)), interval_(interval),
          handler_(std::move(handler)) {}

    void read() {
        worker_.run([fetch = fetch_, token = token_] { return fetch(*token); },
                    [self = shared_from_this()](Outcome<ProxyStatusReport> outcome) {
                        // Every failure counts alike: transport, status, body.
                        self->take(outcome.ok() ? std::optional(std::move(outcome.get()))
                                                : std::nullopt);
                    });
    }

    void stop() {
        stopped_ = true;
        token_->cancel();
        if (pause_) {
            main_.cancel(*pause_);
            pause_.reset();
        }
        handler_ = {};
    }

private:
    void take(const std::optional<ProxyStatusReport>& reading) {
        if (stopped_) {
            return;
        }
        if (auto event = step(reading)) {
            // A copy, so that the handler may stop this poller while it runs.
            auto handle = handler_;
            handle(*event);
            if (stopped_) {
                return;
            }
        }
        pause_ = main_.postAfter(interval_, [weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->pause_.reset();
                self->read();
            }
        });
    }

    // Applies one reading (none for a failed one) and returns the event it makes.
    std::optional<UsageSourceEvent> step(const std::optional<ProxyStatusReport>& reading) {
        if (!reading) {
            failures_ += 1;
            if (failures_ == 3 || failures_ % 15 == 0) {
                return UsageSourceEvent::unreachable(failures_);
            }
            return std::nullopt;
        }
        // After a run of three or more failures the reading is reported even when unchanged, so
        // that the consumer learns that the proxy answers again.
        const bool unchanged = failures_ <= 2 && lastReading_ == reading;
        failures_ = 0;
        if (unchanged) {
            return std::nullopt;
        }
        lastReading_ = reading;
        return UsageSourceEvent::status(reading->snapshot, reading->requestsSeen,
                                        reading->lastRequestAt);
    }

    MainExecutor& main_;
    Worker& worker_;
    const Fetch fetch_;
    const core::Seconds interval_;
    Handler handler_;
    // Cancelled by stop(): a reading in flight ends early.
    const std::shared_ptr<core::CancellationToken> token_ =
        std::make_shared<core::CancellationToken>();
    bool stopped_ = false;
    std::optional<MainExecutor::TimerID> pause_;
    // The reading of the last status event, and the failed readings since the last good one.
    std::optional<ProxyStatusReport> lastReading_;
    std::int64_t failures_ = 0;
};

PollingUsageSource::PollingUsageSource(MainExecutor& main, Worker& worker,
                                       proxy::StatusClient client, core::Seconds interval)
    : PollingUsageSource(
          main, worker,
          [client = std::move(client)](const core::CancellationToken& token) {
              return client.fetch(&token);
          },
          interval) {}

PollingUsageSource::PollingUsageSource(MainExecutor& main, Worker& worker, Fetch fetch,
                                       core::Seconds interval)
    : main_(main), worker_(worker), fetch_(std::move(fetch)), interval_(interval) {}

Subscription PollingUsageSource::listen(Handler handler) {
    auto poller = std::make_shared<Poller>(main_, worker_, fetch_, interval_, std::move(handler));
    poller->read();
    return Subscription([poller] { poller->stop(); });
}

} // namespace meterly::state
