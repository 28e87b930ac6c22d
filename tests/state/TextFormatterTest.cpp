#include "state/TextFormatter.hpp"

#include "support/ScopedEnvironment.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <string>

namespace meterly::state {
namespace {

core::EnvironmentLookup environment(std::map<std::string, std::string> variables) {
    return [variables](std::string_view name) -> std::optional<std::string> {
        const auto it = variables.find(std::string(name));
        return it == variables.end() ? std::nullopt : std::optional(it->second);
    };
}

// 2027-01-15 08:00:00 UTC: a Friday, 03:00 in New York (EST).
constexpr core::Date friday = 1'800'000'000;
constexpr double hour = 3600;
constexpr double day = 86400;

TextFormatter newYork() {
    return TextFormatter(environment({{"LANG", "en_US.UTF-8"}, {"TZ", "America/New_York"}}));
}

TEST(TextFormatterTest, FormatsTheClockPatternsInTheZone) {
    const auto texts = newYork();
    struct Case {
        core::Date date;
        ClockPattern pattern;
        std::string expected;
    };
    const Case cases[] = {
        {friday, ClockPattern::hourMinute, "3:00 AM"},
        {friday, ClockPattern::weekdayHourMinute, "Fri 3:00 AM"},
        {friday, ClockPattern::hourMinute24, "03:00"},
        {friday + 13 * hour + 5 * 60 + 59.9, ClockPattern::hourMinute, "4:05 PM"},
        {friday + 13 * hour + 5 * 60, ClockPattern::hourMinute24, "16:05"},
        {friday + 4 * day + 9 * hour, ClockPattern::weekdayHourMinute, "Tue 12:00 PM"},
        // Summer time: 2027-07-01 12:00 UTC is 08:00 EDT.
        {1'814'529'600, ClockPattern::hourMinute24, "08:00"},
        {std::nan(""), ClockPattern::hourMinute, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(texts.clock(c.date, c.pattern), c.expected) << c.date;
    }
    // Far outside any real date: clamped, still a text.
    EXPECT_FALSE(texts.clock(1e300, ClockPattern::weekdayHourMinute).empty());
    EXPECT_FALSE(
        texts.clock(-std::numeric_limits<double>::infinity(), ClockPattern::hourMinute).empty());
}

TEST(TextFormatterTest, SameDayFollowsLocalMidnight) {
    const auto texts = newYork();
    const core::Date midnight = friday + 21 * hour; // 2027-01-16 00:00 EST
    EXPECT_TRUE(texts.sameDay(friday, midnight - 0.001));
    EXPECT_FALSE(texts.sameDay(friday, midnight));
    EXPECT_FALSE(texts.sameDay(friday, std::nan("")));

    const TextFormatter utc(environment({{"LC_ALL", "en_US.UTF-8"}, {"TZ", "UTC"}}));
    EXPECT_FALSE(texts.sameDay(friday, friday - 5 * hour)) << "22:00 the day before in New York";
    EXPECT_TRUE(utc.sameDay(friday, friday - 5 * hour)) << "03:00 the same day in UTC";
}

TEST(TextFormatterTest, RelativeTextsUseTheLargestWholeUnit) {
    const auto texts = newYork();
    struct Case {
        core::Seconds offset;
        std::string expected;
    };
    const Case cases[] = {
        {0, "in 0 seconds"},           {0.9, "in 0 seconds"},    {-1, "1 second ago"},
        {-59, "59 seconds ago"},       {-90, "1 minute ago"},    {-120, "2 minutes ago"},
        {3 * hour + 59, "in 3 hours"}, {-1 * day, "1 day ago"},  {-8 * day, "1 week ago"},
        {-40 * day, "1 month ago"},    {400 * day, "in 1 year"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(texts.relative(friday + c.offset, friday), c.expected) << c.offset;
    }
    EXPECT_EQ(texts.relative(std::nan(""), friday), "");
    EXPECT_FALSE(texts.relative(1e300, -1e300).empty());
}

TEST(TextFormatterTest, LocaleAndZoneComeFromTheEnvironment) {
    // LC_ALL before LC_TIME before LANG; the charset is dropped.
    const TextFormatter german(environment(
        {{"LC_ALL", "de_DE.UTF-8"}, {"LC_TIME", "fr_FR"}, {"LANG", "en_US"}, {"TZ", "UTC"}}));
    EXPECT_EQ(german.localeName(), "de_DE");
    EXPECT_EQ(german.clock(friday, ClockPattern::weekdayHourMinute), "Fr. 8:00 AM");
    EXPECT_EQ(german.relative(friday - 120, friday), "vor 2 Minuten");

    const TextFormatter plain(environment({{"LANG", "C"}, {"TZ", ":Europe/Paris"}}));
    EXPECT_EQ(plain.timeZoneName(), "Europe/Paris");
    EXPECT_EQ(plain.clock(friday, ClockPattern::hourMinute24), "09:00");

    const TextFormatter path(environment({{"TZ", "/usr/share/zoneinfo/Asia/Tokyo"}}));
    EXPECT_EQ(path.timeZoneName(), "Asia/Tokyo");

    testing::ScopedEnvironment zone("TZ", "Asia/Kolkata");
    testing::ScopedEnvironment locale("LC_ALL", "en_US.UTF-8");
    const TextFormatter process;
    EXPECT_EQ(process.clock(friday, ClockPattern::hourMinute), "1:30 PM");
}

TEST(TextFormatterTest, PercentagesClampAndRoundHalvesAwayFromZero) {
    struct Case {
        double share;
        std::int64_t percent;
    };
    const Case cases[] = {{0.448, 45},       {0.445, 45},
                          {0.004, 0},        {0.005, 1},
                          {1.2, 100},        {-0.1, 0},
                          {std::nan(""), 0}, {std::numeric_limits<double>::infinity(), 100}};
    for (const auto& c : cases) {
        EXPECT_EQ(TextFormatter::roundedPercent(c.share), c.percent) << c.share;
    }
    EXPECT_EQ(TextFormatter::percentText(0.448), "45%");
}

} // namespace
} // namespace meterly::state
