#include "ui/charts/RequestsChartLayout.hpp"

#include <gtest/gtest.h>
#include <map>

namespace meterly::ui {
namespace {

using Layout = RequestsChartLayout;

// 24 hourly buckets from 2027-01-15 00:00 UTC, empty except those given.
std::vector<history::RequestBucket> day(std::map<int, std::int64_t> filled = {}) {
    std::vector<history::RequestBucket> buckets;
    for (int i = 0; i < 24; ++i) {
        buckets.push_back(
            {1'800'000'000.0 - 8 * 3600 + i * 3600.0, filled.contains(i) ? filled[i] : 0, 0});
    }
    return buckets;
}

core::EnvironmentLookup utc() {
    return [](std::string_view name) -> std::optional<std::string> {
        if (name == "TZ") {
            return "UTC";
        }
        return std::nullopt;
    };
}

TEST(RequestsChartLayoutTest, TotalsPeakAndCaption) {
    EXPECT_EQ(Layout::totalText({}), "0 in 24h");
    EXPECT_EQ(Layout::totalText(day()), "0 in 24h");
    EXPECT_EQ(Layout::total(day({{3, 5}, {20, 7}})), 12);
    EXPECT_EQ(Layout::peak(day({{3, 5}, {20, 7}})), 7);
    EXPECT_EQ(Layout::totalText(day({{3, 5}, {20, 7}})), "12 in 24h");
    state::TextFormatter texts(utc());
    EXPECT_EQ(Layout::axisStart({}, texts), "");
    EXPECT_EQ(Layout::axisStart(day(), texts), "00:00");
}

TEST(RequestsChartLayoutTest, BarGeometry) {
    struct Case {
        double width;
        std::size_t count;
        double barWidth;
    };
    for (const auto& c : {Case{190, 24, 6}, Case{40, 24, 1}, Case{100, 1, 100}, Case{0, 0, 0}}) {
        EXPECT_DOUBLE_EQ(Layout::barWidth(c.width, c.count), c.barWidth) << c.width;
    }
    struct Height {
        std::int64_t responses;
        std::int64_t peak;
        double height;
    };
    for (const auto& c : {Height{0, 500, 1}, Height{1, 500, 2}, Height{500, 500, 44},
                          Height{250, 500, 22}, Height{0, 0, 1}}) {
        EXPECT_DOUBLE_EQ(Layout::barHeight(c.responses, c.peak, 44), c.height) << c.responses;
    }

    state::TextFormatter texts(utc());
    auto bars = Layout::bars(day({{23, 9}}), 190, 44, texts);
    ASSERT_EQ(bars.size(), 24u);
    EXPECT_DOUBLE_EQ(bars[1].x, 8);
    EXPECT_TRUE(bars[23].lit);
    EXPECT_DOUBLE_EQ(bars[23].height, 44);
    for (int i = 0; i < 23; ++i) {
        EXPECT_FALSE(bars[static_cast<std::size_t>(i)].lit);
        EXPECT_DOUBLE_EQ(bars[static_cast<std::size_t>(i)].height, 1);
    }
}

TEST(RequestsChartLayoutTest, HelpTextsSayRequestsInTheLocalHour) {
    state::TextFormatter texts(utc());
    auto buckets = day({{7, 2}, {14, 1}, {15, 3}});
    EXPECT_EQ(Layout::help(buckets[7], texts), "07:00 — 2 requests");
    EXPECT_EQ(Layout::help(buckets[14], texts), "14:00 — 1 request");
    EXPECT_EQ(Layout::help(buckets[0], texts), "00:00 — 0 requests");
    state::TextFormatter newYork([](std::string_view name) -> std::optional<std::string> {
        if (name == "TZ") {
            return "America/New_York";
        }
        return std::nullopt;
    });
    EXPECT_EQ(Layout::help(buckets[15], newYork), "10:00 — 3 requests");
}

} // namespace
} // namespace meterly::ui
