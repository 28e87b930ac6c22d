#pragma once

#include "core/Time.hpp"
#include "history/Calendar.hpp"
#include "history/UsageHistoryReport.hpp"

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

namespace meterly::state {

// One five-hour window of the day.
struct SessionSlot {
    // The window running now, with the five-hour window's remaining fraction.
    struct Active {
        double remainingFraction = 0;
        bool operator==(const Active&) const = default;
    };
    // A window that can still open today, not before `earliestStart`.
    struct Available {
        core::Date earliestStart = 0;
        bool operator==(const Available&) const = default;
    };
    // A window opened earlier today.
    struct Spent {
        bool operator==(const Spent&) const = default;
    };
    // A window that cannot open before the start of tomorrow.
    struct OutOfReach {
        bool operator==(const OutOfReach&) const = default;
    };
    using State = std::variant<Active, Available, Spent, OutOfReach>;

    std::int64_t index = 0;
    State state;

    std::int64_t id() const { return index; }
    bool operator==(const SessionSlot&) const = default;
};

// How many five-hour windows the user can still open today, and from when.
struct SessionGate {
    std::vector<SessionSlot> slots;
    // The reset of the running window; none when no window runs.
    std::optional<core::Date> activeResetAt;
    // When the next window can open: the running window's reset, else the time of estimation.
    core::Date nextEarliestStart = 0;
    // Windows opened earlier today and over (with a running window: opened before it).
    std::int64_t spentCount = 0;
    // The number of slots: at least the nominal capacity, at least the windows used.
    std::int64_t capacity = 0;

    std::int64_t availableCount() const;
    bool isActive() const { return activeResetAt.has_value(); }

    bool operator==(const SessionGate&) const = default;
};

// Lays out today's five-hour windows from the hourly request buckets of the history.
class SessionGateEstimator {
public:
    SessionGateEstimator() = delete;

    // The length of one window and the distance between successive window starts.
    static constexpr core::Seconds windowDuration = 18'000;
    // The least number of slots a day is drawn with.
    static constexpr std::int64_t nominalCapacity = 4;

    // None without buckets, or when the calendar cannot place today or tomorrow.
    static std::optional<SessionGate>
    estimate(std::optional<core::Date> fiveHourResetAt,
             std::optional<double> fiveHourRemainingFraction,
             const std::vector<history::RequestBucket>& requestsByHour, core::Date now,
             const history::Calendar& calendar);

    // The starts of the windows opened between `from` and `until`: a bucket with a response at or
    // after the end of the previous window opens one at its start. With `endsAtWindowBoundary` only
    // buckets wholly before `until` count, else those starting before it.
    static std::vector<core::Date>
    windowOpenings(const std::vector<history::RequestBucket>& buckets, core::Date from,
                   core::Date until, bool endsAtWindowBoundary);
};

} // namespace meterly::state
