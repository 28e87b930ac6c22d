#include "state/SessionGate.hpp"

#include <algorithm>

namespace meterly::state {

namespace {

constexpr core::Seconds defaultBucketWidth = 3600;

// The first instant of the calendar day after the one that begins at `midnight`. Real days last
// 23 to 25 hours, so a point 36 hours on always lies in the next one.
std::optional<core::Date> startOfNextDay(const history::Calendar& calendar, core::Date midnight) {
    auto later = calendar.addingHours(midnight, 36);
    if (!later) {
        return std::nullopt;
    }
    auto next = calendar.startOfDay(*later);
    if (!next || !(*next > midnight)) {
        return std::nullopt;
    }
    return next;
}

} // namespace

std::int64_t SessionGate::availableCount() const {
    return std::count_if(slots.begin(), slots.end(), [](const SessionSlot& slot) {
        return std::holds_alternative<SessionSlot::Available>(slot.state);
    });
}

std::vector<core::Date>
SessionGateEstimator::windowOpenings(const std::vector<history::RequestBucket>& buckets,
                                     core::Date from, core::Date until, bool endsAtWindowBoundary) {
    std::vector<core::Date> openings;
    if (!(until > from) || buckets.empty()) {
        return openings;
    }
    const core::Seconds width =
        buckets.size() >= 2 ? buckets[1].start - buckets[0].start : defaultBucketWidth;
    core::Date cursor = from;
    for (const auto& bucket : buckets) {
        const bool beforeEnd =
            endsAtWindowBoundary ? bucket.start + width <= until : bucket.start < until;
        if (bucket.responseCount >= 1 && bucket.start >= cursor && beforeEnd) {
            openings.push_back(bucket.start);
            cursor = bucket.start + windowDuration;
        }
    }
    return openings;
}

std::optional<SessionGate>
SessionGateEstimator::estimate(std::optional<core::Date> fiveHourResetAt,
                               std::optional<double> fiveHourRemainingFraction,
                               const std::vector<history::RequestBucket>& requestsByHour,
                               core::Date now, const history::Calendar& calendar) {
    if (requestsByHour.empty()) {
        return std::nullopt;
    }
    const auto midnight = calendar.startOfDay(now);
    if (!midnight) {
        return std::nullopt;
    }
    const auto tomorrow = startOfNextDay(calendar, *midnight);
    if (!tomorrow) {
        return std::nullopt;
    }

    SessionGate gate;
    if (fiveHourResetAt && *fiveHourResetAt > now) {
        gate.activeResetAt = fiveHourResetAt;
    }
    const bool running = gate.activeResetAt.has_value();
    const core::Date until = running ? *gate.activeResetAt - windowDuration : now;
    gate.spentCount =
        static_cast<std::int64_t>(windowOpenings(requestsByHour, *midnight, until, running).size());
    const std::int64_t used = gate.spentCount + (running ? 1 : 0);
    gate.capacity = std::max(nominalCapacity, used);
    gate.nextEarliestStart = running ? *gate.activeResetAt : now;

    gate.slots.reserve(static_cast<std::size_t>(gate.capacity));
    for (std::int64_t index = 0; index < gate.capacity; ++index) {
        SessionSlot slot{index, SessionSlot::Spent{}};
        if (index < gate.spentCount) {
            slot.state = SessionSlot::Spent{};
        } else if (index == gate.spentCount && running) {
            slot.state = SessionSlot::Active{fiveHourRemainingFraction.value_or(0)};
        } else {
            const core::Date candidate =
                gate.nextEarliestStart + static_cast<double>(index - used) * windowDuration;
            if (candidate < *tomorrow) {
                slot.state = SessionSlot::Available{candidate};
            } else {
                slot.state = SessionSlot::OutOfReach{};
            }
        }
        gate.slots.push_back(slot);
    }
    return gate;
}

} // namespace meterly::state
