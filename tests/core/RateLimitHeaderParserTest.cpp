#include "core/RateLimitHeaderParser.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace meterly::core;

namespace {

using Headers = RateLimitHeaderParser::Headers;

const std::string h5 = "anthropic-ratelimit-unified-5h-";
const std::string h7 = "anthropic-ratelimit-unified-7d-";
const std::string claim = "anthropic-ratelimit-unified-representative-claim";
const std::string overage = "anthropic-ratelimit-unified-overage-status";

Headers fiveHourOnly(const std::string& utilization) {
    return {{h5 + "utilization", utilization}, {h5 + "reset", "60"}, {h5 + "status", "allowed"}};
}

} // namespace

TEST(RateLimitHeaderParserTest, AllHeadersMakeAFullSnapshot) {
    Headers headers = {
        {h5 + "utilization", "0.42"},   {h5 + "reset", "60"},
        {h5 + "status", "allowed"},     {h7 + "utilization", "1.07"},
        {h7 + "reset", "1700000000.5"}, {h7 + "status", "rejected"},
        {claim, " Seven_Day"},          {overage, ""},
        {"content-type", "text/plain"},
    };
    auto snapshot = RateLimitHeaderParser::parse(headers, 1234.5);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->fiveHour, (LimitWindow{"allowed", 0.42, 60}));
    EXPECT_EQ(snapshot->sevenDay, (LimitWindow{"rejected", 1.07, 1700000000.5}))
        << "utilization is stored unclamped";
    EXPECT_EQ(snapshot->representativeClaim, " Seven_Day") << "copied verbatim";
    EXPECT_EQ(snapshot->overageStatus, "") << "an empty value stays an empty text";
    EXPECT_EQ(snapshot->capturedAt, 1234.5);
}

TEST(RateLimitHeaderParserTest, WindowsNeedBothNumbers) {
    struct Case {
        const char* name;
        Headers headers;
        bool fiveHour;
        bool sevenDay;
    };
    const Case cases[] = {
        {"seven-day only",
         {{h7 + "utilization", "0.3"}, {h7 + "reset", "10"}, {h7 + "status", "allowed"}},
         false,
         true},
        {"five-hour reset missing", {{h5 + "utilization", "0.3"}}, false, false},
        {"five-hour utilization missing", {{h5 + "reset", "10"}}, false, false},
        {"bad reset, good seven-day",
         {{h5 + "utilization", "0.3"},
          {h5 + "reset", "soon"},
          {h7 + "utilization", "0.3"},
          {h7 + "reset", "10"}},
         false,
         true},
        {"claim alone", {{claim, "five_hour"}, {overage, "allowed"}}, false, false},
        {"nothing", {}, false, false},
        {"names in capitals",
         {{"Anthropic-RateLimit-Unified-5H-Utilization", "0.5"},
          {"ANTHROPIC-RATELIMIT-UNIFIED-5H-RESET", "10"}},
         true,
         false},
    };
    for (const auto& c : cases) {
        auto snapshot = RateLimitHeaderParser::parse(c.headers, 1);
        if (!c.fiveHour && !c.sevenDay) {
            EXPECT_EQ(snapshot, std::nullopt) << c.name;
            continue;
        }
        ASSERT_TRUE(snapshot) << c.name;
        EXPECT_EQ(snapshot->fiveHour.has_value(), c.fiveHour) << c.name;
        EXPECT_EQ(snapshot->sevenDay.has_value(), c.sevenDay) << c.name;
        EXPECT_EQ(snapshot->representativeClaim, std::nullopt) << c.name;
        EXPECT_EQ(snapshot->overageStatus, std::nullopt) << c.name;
    }
}

TEST(RateLimitHeaderParserTest, StatusDefaultsToUnknownAndKeepsItsCase) {
    auto noStatus =
        RateLimitHeaderParser::parse({{h5 + "utilization", "0.1"}, {h5 + "reset", "5"}}, 0);
    ASSERT_TRUE(noStatus && noStatus->fiveHour);
    EXPECT_EQ(noStatus->fiveHour->status, "unknown");

    auto capitalised = RateLimitHeaderParser::parse(
        {{h5 + "utilization", "0.1"}, {h5 + "reset", "5"}, {h5 + "status", "Allowed"}}, 0);
    ASSERT_TRUE(capitalised && capitalised->fiveHour);
    EXPECT_EQ(capitalised->fiveHour->status, "Allowed");
    EXPECT_FALSE(capitalised->fiveHour->isAllowed());
}

TEST(RateLimitHeaderParserTest, NumberRule) {
    const double smallestSubnormal = std::numeric_limits<double>::denorm_min();
    const std::pair<const char*, std::optional<double>> cases[] = {
        {"0.42", 0.42},
        {"1e-1", 0.1},
        {"1E+2", 100},
        {"+1.5", 1.5},
        {"-0.5", -0.5},
        {".5", 0.5},
        {"5.", 5},
        {"007", 7},
        {"0x1p-1", 0.5},
        {"0X1.8P1", 3},
        {"-0x10", -16},
        {"0x.8", 0.5},
        {"4.9406564584124654e-324", smallestSubnormal},
        {"0e-999", 0},
        // Not numbers.
        {"", std::nullopt},
        {" 0.5", std::nullopt},
        {"\t0.5", std::nullopt},
        {"0.5 ", std::nullopt},
        {"0.5\n", std::nullopt},
        {"50%", std::nullopt},
        {"0,5", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {".", std::nullopt},
        {"+-1", std::nullopt},
        {"--1", std::nullopt},
        {"1e", std::nullopt},
        {"1e+", std::nullopt},
        {"0x", std::nullopt},
        {"0x-1", std::nullopt},
        {"0x+1", std::nullopt},
        {"0x1p", std::nullopt},
        {"0xg", std::nullopt},
        {"1e400", std::nullopt},
        {"-1e400", std::nullopt},
        {"1e-400", std::nullopt},
        {"0x1p99999", std::nullopt},
        {"0x1p-99999", std::nullopt},
        // Infinity and not-a-number are never a usable value.
        {"inf", std::nullopt},
        {"-INF", std::nullopt},
        {"+infinity", std::nullopt},
        {"nan", std::nullopt},
        {"NaN(123)", std::nullopt},
        {"-nan", std::nullopt},
    };
    for (auto [text, expected] : cases) {
        EXPECT_EQ(RateLimitHeaderParser::number(text), expected) << '"' << text << '"';
    }
    EXPECT_TRUE(std::signbit(*RateLimitHeaderParser::number("-0")));
}

TEST(RateLimitHeaderParserTest, MalformedUtilizationDropsTheWindow) {
    for (const char* bad : {" 0.4", "0.4 ", "40%", "", "inf", "nan"}) {
        EXPECT_EQ(RateLimitHeaderParser::parse(fiveHourOnly(bad), 0), std::nullopt)
            << '"' << bad << '"';
    }
    auto good = RateLimitHeaderParser::parse(fiveHourOnly("1e-1"), 0);
    ASSERT_TRUE(good && good->fiveHour);
    EXPECT_EQ(good->fiveHour->utilization, 0.1);
}
