#include "state/SessionGate.hpp"

#include "StateTestSupport.hpp"
#include "support/ScopedTimeZone.hpp"

#include <gtest/gtest.h>

namespace meterly::state {
namespace {

using testing::hourlyBuckets;
using testing::localDate;
using Slot = SessionSlot;

// The 24 hourly buckets of a report made at `now`'s hour on 2027-01-15, with the responses at the
// given local hours of that day (-1 is 23:00 the day before).
std::vector<history::RequestBucket> dayBuckets(int nowHour, const std::vector<int>& hours) {
    const core::Date first = localDate(2027, 1, 15, nowHour) - 23 * 3600.0;
    std::map<int, testing::BucketFill> filled;
    for (int hour : hours) {
        filled[hour - nowHour + 23] = {1, 100};
    }
    return hourlyBuckets(first, 24, filled);
}

class SessionGateTest : public ::testing::TestWithParam<const char*> {
protected:
    meterly::testing::ScopedTimeZone zone_{GetParam()};
    history::LocalCalendar calendar_;
    core::Date at(int hour, int minute = 0) const { return localDate(2027, 1, 15, hour, minute); }
};

TEST_P(SessionGateTest, WorkedExampleCountsTheWindowsBeforeTheRunningOne) {
    auto gate = SessionGateEstimator::estimate(at(17, 30), 0.6, dayBuckets(15, {8, 9, 12}), at(15),
                                               calendar_);
    ASSERT_TRUE(gate);
    EXPECT_EQ(gate->spentCount, 1);
    EXPECT_EQ(gate->capacity, 4);
    EXPECT_EQ(gate->activeResetAt, at(17, 30));
    EXPECT_EQ(gate->nextEarliestStart, at(17, 30));
    EXPECT_TRUE(gate->isActive());
    EXPECT_EQ(gate->availableCount(), 2);
    const std::vector<Slot> expected{{0, Slot::Spent{}},
                                     {1, Slot::Active{0.6}},
                                     {2, Slot::Available{at(17, 30)}},
                                     {3, Slot::Available{at(22, 30)}}};
    EXPECT_EQ(gate->slots, expected);
}

TEST_P(SessionGateTest, LaysOutTheRestOfTheDay) {
    struct Case {
        const char* name;
        std::optional<core::Date> reset;
        std::optional<double> remaining;
        std::vector<int> hours;
        int nowHour;
        std::int64_t spent;
        std::int64_t capacity;
        std::vector<Slot::State> states;
    };
    const std::vector<Case> cases = {
        {"idle evening: one slot left before midnight",
         std::nullopt,
         std::nullopt,
         {},
         21,
         0,
         4,
         {Slot::Available{at(21)}, Slot::OutOfReach{}, Slot::OutOfReach{}, Slot::OutOfReach{}}},
        {"a reset already past is no running window",
         at(20),
         0.5,
         {},
         21,
         0,
         4,
         {Slot::Available{at(21)}, Slot::OutOfReach{}, Slot::OutOfReach{}, Slot::OutOfReach{}}},
        {"never fewer slots than windows used",
         std::nullopt,
         std::nullopt,
         {0, 5, 10, 15, 20},
         21,
         5,
         5,
         {Slot::Spent{}, Slot::Spent{}, Slot::Spent{}, Slot::Spent{}, Slot::Spent{}}},
        {"a start exactly at tomorrow is out of reach",
         std::nullopt,
         std::nullopt,
         {},
         19,
         0,
         4,
         {Slot::Available{at(19)}, Slot::OutOfReach{}, Slot::OutOfReach{}, Slot::OutOfReach{}}},
        {"running window without a remaining fraction",
         at(16),
         std::nullopt,
         {11},
         14,
         0,
         4,
         {Slot::Active{0}, Slot::Available{at(16)}, Slot::Available{at(21)}, Slot::OutOfReach{}}},
        {"yesterday's requests do not count",
         std::nullopt,
         std::nullopt,
         {-1},
         6,
         0,
         4,
         {Slot::Available{at(6)}, Slot::Available{at(11)}, Slot::Available{at(16)},
          Slot::Available{at(21)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto buckets = dayBuckets(c.nowHour, c.hours);
        auto gate =
            SessionGateEstimator::estimate(c.reset, c.remaining, buckets, at(c.nowHour), calendar_);
        ASSERT_TRUE(gate);
        EXPECT_EQ(gate->spentCount, c.spent);
        EXPECT_EQ(gate->capacity, c.capacity);
        ASSERT_EQ(gate->slots.size(), c.states.size());
        for (std::size_t i = 0; i < c.states.size(); ++i) {
            EXPECT_EQ(gate->slots[i].index, static_cast<std::int64_t>(i));
            EXPECT_EQ(gate->slots[i].state, c.states[i]) << "slot " << i;
        }
    }
}

TEST_P(SessionGateTest, NoBucketsNoGate) {
    EXPECT_FALSE(SessionGateEstimator::estimate(at(17), 0.5, {}, at(15), calendar_));
}

INSTANTIATE_TEST_SUITE_P(Zones, SessionGateTest, ::testing::Values("UTC", "America/New_York"));

TEST(SessionGateWindowOpeningsTest, OpensAWindowAtTheFirstRequestAfterTheLastOneEnded) {
    const auto buckets =
        hourlyBuckets(0, 12, {{0, {1, 0}}, {3, {2, 0}}, {5, {1, 0}}, {11, {1, 0}}});
    struct Case {
        const char* name;
        core::Date from;
        core::Date until;
        bool boundary;
        std::vector<core::Date> expected;
    };
    const Case cases[] = {
        {"until equal to from", 0, 0, false, {}},
        {"until before from", 5 * 3600.0, 0, false, {}},
        {"a start at the cursor opens", 0, 12 * 3600.0, false, {0, 5 * 3600.0, 11 * 3600.0}},
        {"from inside the first window", 3600, 12 * 3600.0, false, {3 * 3600.0, 11 * 3600.0}},
        {"a start equal to until does not open", 0, 5 * 3600.0, false, {0}},
        {"a whole bucket before until opens", 0, 6 * 3600.0, true, {0, 5 * 3600.0}},
        {"a bucket reaching past until does not", 0, 5.5 * 3600, true, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SessionGateEstimator::windowOpenings(buckets, c.from, c.until, c.boundary),
                  c.expected);
    }
    EXPECT_TRUE(SessionGateEstimator::windowOpenings({}, 0, 3600, false).empty());
    // A single bucket is taken as an hour wide.
    const auto single = hourlyBuckets(0, 1, {{0, {1, 0}}});
    EXPECT_EQ(SessionGateEstimator::windowOpenings(single, 0, 3600, true),
              std::vector<core::Date>{0});
    EXPECT_TRUE(SessionGateEstimator::windowOpenings(single, 0, 3599, true).empty());
}

// Daylight-saving days in New York last 23 and 25 hours; the last slots of the day follow the
// calendar's midnight, not a fixed 24 hours.
TEST(SessionGateDaylightSavingTest, TomorrowStartsAtTheCalendarsMidnight) {
    meterly::testing::ScopedTimeZone zone("America/New_York");
    history::LocalCalendar calendar;
    {
        // 2027-03-14 springs forward: a candidate at 00:30 the next day is tomorrow.
        const core::Date now = localDate(2027, 3, 14, 14, 30);
        const auto buckets = hourlyBuckets(now - 23 * 3600.0, 24);
        auto gate =
            SessionGateEstimator::estimate(std::nullopt, std::nullopt, buckets, now, calendar);
        ASSERT_TRUE(gate);
        EXPECT_EQ(gate->slots[1].state,
                  Slot::State{Slot::Available{localDate(2027, 3, 14, 19, 30)}});
        EXPECT_EQ(gate->slots[2].state, Slot::State{Slot::OutOfReach{}});
        EXPECT_EQ(gate->availableCount(), 2);
    }
    {
        // 2027-11-07 falls back: 23:30 is still today, 25.5 hours after midnight.
        const core::Date now = localDate(2027, 11, 7, 13, 30);
        const auto buckets = hourlyBuckets(now - 23 * 3600.0, 24);
        auto gate =
            SessionGateEstimator::estimate(std::nullopt, std::nullopt, buckets, now, calendar);
        ASSERT_TRUE(gate);
        EXPECT_EQ(gate->slots[2].state,
                  Slot::State{Slot::Available{localDate(2027, 11, 7, 23, 30)}});
        EXPECT_EQ(gate->slots[3].state, Slot::State{Slot::OutOfReach{}});
        EXPECT_EQ(gate->availableCount(), 3);
    }
}

} // namespace
} // namespace meterly::state
