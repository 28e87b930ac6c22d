#include "state/WindowFill.hpp"

#include "StateTestSupport.hpp"

#include <gtest/gtest.h>
#include <limits>

namespace meterly::state {
namespace {

using testing::hourlyBuckets;
using CapReading = WindowFillSeries::CapReading;

constexpr core::Date hour = 3600;
constexpr std::int64_t maxTokens = std::numeric_limits<std::int64_t>::max();

// Buckets from the epoch on: hour i starts at i * 3600.
std::vector<history::RequestBucket> buckets(int count,
                                            const std::map<int, testing::BucketFill>& filled) {
    return hourlyBuckets(0, count, filled);
}

std::optional<WindowFillSeries> estimate(std::optional<core::Date> reset,
                                         std::optional<double> utilization,
                                         const std::vector<history::RequestBucket>& hours,
                                         core::Date now, std::optional<CapReading> known = {},
                                         std::int64_t limit = 5) {
    return WindowFillEstimator::estimate(reset, utilization, hours, now, known, limit);
}

std::vector<std::int64_t> tokensOf(const WindowFillSeries& series) {
    std::vector<std::int64_t> tokens;
    for (const auto& window : series.windows) {
        tokens.push_back(window.tokens);
    }
    return tokens;
}

TEST(WindowFillTest, NothingToShow) {
    EXPECT_FALSE(estimate(20 * hour, 0.5, {}, 18 * hour));
    EXPECT_FALSE(estimate(std::nullopt, 0.5, buckets(24, {}), 23 * hour));
    EXPECT_FALSE(estimate(23 * hour, 0.5, buckets(24, {}), 23 * hour)) << "reset at now";
}

TEST(WindowFillTest, AResetAtOrBeforeNowLeavesOnlySettledWindows) {
    const auto hours = buckets(24, {{2, {3, 500}}, {9, {1, 250}}});
    for (core::Date reset : {20 * hour, 19 * hour}) {
        auto series = estimate(reset, 0.5, hours, 20 * hour);
        ASSERT_TRUE(series);
        ASSERT_EQ(series->windows.size(), 2u);
        EXPECT_EQ(series->windows[0].start, 2 * hour);
        EXPECT_EQ(series->windows[1].start, 9 * hour);
        EXPECT_FALSE(series->windows[0].isActive || series->windows[1].isActive);
        // The last window implies the cap: 250 / 0.5.
        EXPECT_EQ(series->capReading, (CapReading{500, 0.5}));
        EXPECT_EQ(series->windows[1].fraction, 0.5);
    }
}

TEST(WindowFillTest, CapReadingFromTheCurrentWindow) {
    struct Case {
        const char* name;
        std::int64_t tokens;
        std::optional<double> utilization;
        std::optional<CapReading> known;
        std::optional<CapReading> expected;
    };
    const Case cases[] = {
        {"at the minimum utilization", 2'000, 0.1, std::nullopt, CapReading{20'000, 0.1}},
        {"below it", 2'000, 0.099, std::nullopt, std::nullopt},
        {"rounded", 1'234, 0.4, std::nullopt, CapReading{3'085, 0.4}},
        {"half rounded away from zero", 5, 0.4, std::nullopt, CapReading{13, 0.4}},
        {"no tokens gives no reading", 0, 0.5, std::nullopt, std::nullopt},
        {"no utilization", 2'000, std::nullopt, std::nullopt, std::nullopt},
        {"a tie goes to the new reading", 29'000, 0.5, CapReading{60'000, 0.5},
         CapReading{58'000, 0.5}},
        {"a lower utilization keeps the known one", 17'400, 0.3, CapReading{60'000, 0.5},
         CapReading{60'000, 0.5}},
        {"a higher one replaces it", 42'000, 0.7, CapReading{60'000, 0.5}, CapReading{60'000, 0.7}},
        {"the known one without a new one", 0, 0.5, CapReading{60'000, 0.5},
         CapReading{60'000, 0.5}},
        {"a capacity past the 64-bit range is held at its end", maxTokens, 0.1, std::nullopt,
         CapReading{maxTokens, 0.1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The current window opened at 19:00 (reset at 24:00); its bucket holds the tokens.
        auto series = estimate(24 * hour, c.utilization, buckets(24, {{19, {1, c.tokens}}}),
                               23 * hour, c.known);
        ASSERT_TRUE(series);
        EXPECT_EQ(series->capReading, c.expected);
        if (c.expected) {
            EXPECT_EQ(series->basis,
                      WindowFillSeries::Basis{WindowFillSeries::ImpliedCap{c.expected->tokens}});
        } else {
            EXPECT_EQ(series->basis, WindowFillSeries::Basis{WindowFillSeries::Relative{}});
        }
    }
}

TEST(WindowFillTest, TheCurrentWindowAloneIsItsOwnReference) {
    for (std::int64_t tokens : {0, 700}) {
        auto series = estimate(24 * hour, 0.05, buckets(24, {{19, {1, tokens}}}), 23 * hour);
        ASSERT_TRUE(series);
        ASSERT_EQ(series->windows.size(), 1u);
        const auto& only = series->windows[0];
        EXPECT_TRUE(only.isActive);
        EXPECT_EQ(only.fraction, tokens > 0 ? 1.0 : 0.0);
        EXPECT_FALSE(only.isClamped);
        EXPECT_FALSE(series->settledAverageFraction());
        EXPECT_FALSE(series->settledAverageIsFloor());
        EXPECT_EQ(series->barelyUsedCount(), 0);
    }
}

TEST(WindowFillTest, SettledWindowsAgainstTheImpliedCapOrTheLargestOfThem) {
    // Settled windows at 00:00 (1,200), 05:00 (100) and 10:00 (400); current from 17:00 (900).
    const auto hours = buckets(24, {{0, {2, 1'000}},
                                    {3, {1, 200}},
                                    {5, {1, 100}},
                                    {10, {1, 400}},
                                    {17, {1, 600}},
                                    {20, {1, 300}}});
    {
        auto series = estimate(22 * hour, 0.9, hours, 21 * hour);
        ASSERT_TRUE(series);
        EXPECT_EQ(tokensOf(*series), (std::vector<std::int64_t>{1'200, 100, 400, 900}));
        EXPECT_EQ(series->capReading, (CapReading{1'000, 0.9}));
        EXPECT_EQ(series->windows[0].fraction, 1.0);
        EXPECT_TRUE(series->windows[0].isClamped);
        EXPECT_DOUBLE_EQ(series->windows[1].fraction, 0.1);
        EXPECT_TRUE(series->windows[3].isActive);
        EXPECT_TRUE(series->settledAverageIsFloor());
        EXPECT_DOUBLE_EQ(*series->settledAverageFraction(), 0.5);
        EXPECT_EQ(series->barelyUsedCount(), 1);
    }
    {
        // Too little utilization for a reading: the largest settled window is the reference and
        // the current one may exceed it.
        auto series = estimate(22 * hour, 0.05, hours, 21 * hour);
        ASSERT_TRUE(series);
        EXPECT_EQ(series->basis, WindowFillSeries::Basis{WindowFillSeries::Relative{}});
        EXPECT_FALSE(series->capReading);
        EXPECT_DOUBLE_EQ(series->windows[2].fraction, 1.0 / 3);
        EXPECT_EQ(series->windows[3].fraction, 0.75);
        EXPECT_FALSE(series->settledAverageIsFloor());
    }
}

TEST(WindowFillTest, KeepsTheMostRecentWindows) {
    // Six openings five hours apart, then a current window from 30:30.
    const auto hours = buckets(35, {{0, {1, 1}},
                                    {5, {1, 2}},
                                    {10, {1, 3}},
                                    {15, {1, 4}},
                                    {20, {1, 5}},
                                    {25, {1, 6}},
                                    {31, {1, 7}}});
    auto series = estimate(35.5 * hour, 0.5, hours, 34 * hour);
    ASSERT_TRUE(series);
    ASSERT_EQ(series->windows.size(), 5u);
    EXPECT_EQ(series->windows.front().start, 10 * hour);
    EXPECT_EQ(series->windows.back().start, 30.5 * hour);
    EXPECT_TRUE(series->windows.back().isActive);
    EXPECT_EQ(tokensOf(*series), (std::vector<std::int64_t>{3, 4, 5, 6, 7}));
}

TEST(WindowFillTest, OverlappingWindowsCountEachBucketOnce) {
    // An opening at 05:00 runs to 10:00; the current window starts at 09:40.
    const auto hours = buckets(24, {{5, {1, 10}}, {9, {1, 20}}, {10, {1, 40}}, {13, {1, 80}}});
    auto series = estimate(14 * hour + 40 * 60, 0.5, hours, 13.5 * hour);
    ASSERT_TRUE(series);
    EXPECT_EQ(tokensOf(*series), (std::vector<std::int64_t>{30, 120}));
}

TEST(WindowFillTest, SaturatedBucketsDoNotOverflow) {
    const auto hours = buckets(
        24,
        {{19, {1, maxTokens}}, {20, {1, maxTokens}}, {5, {1, maxTokens}}, {6, {1, -maxTokens}}});
    auto series = estimate(24 * hour, 0.5, hours, 23 * hour);
    ASSERT_TRUE(series);
    EXPECT_EQ(tokensOf(*series), (std::vector<std::int64_t>{0, maxTokens}));
    EXPECT_EQ(series->capReading, (CapReading{maxTokens, 0.5}));
    EXPECT_EQ(series->windows[1].fraction, 1.0);
}

} // namespace
} // namespace meterly::state
