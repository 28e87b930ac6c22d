#include "history/Calendar.hpp"

#include "HistoryTestSupport.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace meterly::history {
namespace {

using testing::ScopedTimeZone;

struct LocalCase {
    const char* zone;
    const char* what;
    core::Date date;
    core::Date hour;
    core::Date day;
};

TEST(LocalCalendarTest, HoursAndDaysFollowTheLocalClock) {
    const LocalCase cases[] = {
        {"UTC", "plain day", 1780324200.5, 1780322400, 1780272000},
        // 2026-03-08: New York springs from 02:00 EST to 03:00 EDT; the day began at 05:00Z.
        {"America/New_York", "before the change", 1772951400, 1772949600, 1772946000},
        {"America/New_York", "after the change", 1772955000, 1772953200, 1772946000},
        {"America/New_York", "afternoon", 1772987400, 1772985600, 1772946000},
        // 2026-11-01: 01:00-02:00 comes twice, first in EDT then in EST.
        {"America/New_York", "first 01:30", 1793511000, 1793509200, 1793505600},
        {"America/New_York", "second 01:30", 1793514600, 1793512800, 1793505600},
        // 2018-11-04: Sao Paulo skipped midnight; the day began at 01:00 local (03:00Z).
        {"America/Sao_Paulo", "day without a midnight", 1541340000, 1541340000, 1541300400},
        // Hours of a half-hour zone start at the local full hour.
        {"Asia/Kolkata", "half-hour offset", 1780324200, 1780324200, 1780252200},
    };
    for (const auto& c : cases) {
        ScopedTimeZone zone(c.zone);
        LocalCalendar calendar;
        EXPECT_EQ(calendar.startOfHour(c.date), c.hour) << c.zone << ": " << c.what;
        EXPECT_EQ(calendar.startOfDay(c.date), c.day) << c.zone << ": " << c.what;
    }
}

TEST(LocalCalendarTest, TimesOutsideTheCalendarHaveNoHourOrDay) {
    LocalCalendar calendar;
    for (double date :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity(), 1e300}) {
        EXPECT_EQ(calendar.startOfHour(date), std::nullopt) << date;
        EXPECT_EQ(calendar.startOfDay(date), std::nullopt) << date;
        if (!std::isfinite(date)) {
            EXPECT_EQ(calendar.addingHours(date, 1), std::nullopt) << date;
        }
    }
}

} // namespace
} // namespace meterly::history
