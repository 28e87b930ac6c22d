#include "state/RunwayForecast.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <optional>

namespace meterly::state {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct RunwayCase {
    const char* name;
    std::optional<double> utilization;
    std::int64_t windowUsage;
    double windowDuration;
    double remainingFraction;
    double timeRemaining;
    std::optional<double> expected;
};

TEST(RunwayForecastTest, FollowsThePaceOfTheSpan) {
    const RunwayCase cases[] = {
        // Capacity 20,000 tokens at 0.5556 tokens/s: the remaining half lasts 18,000 s.
        {"runs out first", 0.5, 10'000, 18'000, 0.5, 20'000, 18'000},
        {"runs out exactly at the reset", 0.5, 10'000, 18'000, 0.5, 18'000, std::nullopt},
        {"resets first", 0.5, 10'000, 18'000, 0.5, 5'000, std::nullopt},
        {"exhausted", 1.2, 10'000, 18'000, 0, 20'000, std::nullopt},
        {"no tokens in the span", 0.5, 0, 18'000, 0.5, 20'000, std::nullopt},
        {"no utilization", std::nullopt, 10'000, 18'000, 0.5, 20'000, std::nullopt},
        {"nothing used yet", 0, 10'000, 18'000, 1, 20'000, std::nullopt},
        {"empty span", 0.5, 10'000, 0, 0.5, 20'000, std::nullopt},
        {"negative tokens", 0.5, -10'000, 18'000, 0.5, 20'000, std::nullopt},
        {"utilization not a number", nan, 10'000, 18'000, 0.5, 20'000, std::nullopt},
        {"remaining not a number", 0.5, 10'000, 18'000, nan, 20'000, std::nullopt},
        {"duration not a number", 0.5, 10'000, nan, 0.5, 20'000, std::nullopt},
        {"time remaining not a number", 0.5, 10'000, 18'000, 0.5, nan, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto forecast = RunwayForecastEstimator::estimate(
            c.utilization, c.windowUsage, c.windowDuration, c.remainingFraction, c.timeRemaining);
        ASSERT_EQ(forecast.has_value(), c.expected.has_value());
        if (c.expected) {
            EXPECT_NEAR(forecast->timeUntilExhausted, *c.expected, 1e-6);
        }
    }
}

} // namespace
} // namespace meterly::state
