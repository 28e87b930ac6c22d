#include "support/MockUsageSource.hpp"

#include "core/Task.hpp"

#include <algorithm>

namespace meterly::core {

namespace {

constexpr Seconds fiveHourResetDelay = 8040;   // 2 h 14 min
constexpr Seconds sevenDayResetDelay = 259200; // 3 days

LimitWindow mockWindow(double utilization, Date resetAt) {
    return LimitWindow{utilization >= 1 ? "rejected" : "allowed", std::min(utilization, 1.0),
                       resetAt};
}

} // namespace

MockUsageSource::MockUsageSource(Seconds interval, double startUtilization, double step, Clock now)
    : interval_(interval), startUtilization_(startUtilization), step_(step), now_(std::move(now)) {}

AsyncStream<UsageSnapshot> MockUsageSource::snapshots() {
    auto [stream, continuation] = AsyncStream<UsageSnapshot>::make(StreamBuffering::unbounded());
    auto task =
        startTask([continuation = continuation, interval = interval_, start = startUtilization_,
                   step = step_, now = now_](const CancellationToken& token) {
            Date started = now();
            Date fiveHourReset = started + fiveHourResetDelay;
            Date sevenDayReset = started + sevenDayResetDelay;
            double five = start;
            double seven = start - 0.01;
            while (!token.isCancelled()) {
                UsageSnapshot snapshot;
                snapshot.fiveHour = mockWindow(five, fiveHourReset);
                snapshot.sevenDay = mockWindow(seven, sevenDayReset);
                snapshot.representativeClaim = "five_hour";
                snapshot.capturedAt = now();
                continuation.yield(std::move(snapshot));
                if (!token.sleepFor(interval)) {
                    break;
                }
                seven = seven >= 1 ? start : seven + step / 3;
                five = five >= 1 ? start : five + step;
            }
            continuation.finish();
        });
    continuation.setOnTermination([task](StreamTermination) { task->cancel(); });
    return std::move(stream);
}

} // namespace meterly::core
