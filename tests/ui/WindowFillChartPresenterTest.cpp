#include "ui/charts/WindowFillChartPresenter.hpp"

#include <gtest/gtest.h>
#include <string>

namespace meterly::ui {
namespace {

// 2027-01-15 in UTC.
constexpr core::Date hour(int h, int m = 0) {
    return 1'800'000'000 - 8 * 3600 + h * 3600.0 + m * 60;
}

core::EnvironmentLookup englishUTC() {
    return [](std::string_view name) -> std::optional<std::string> {
        if (name == "LANG") {
            return "en_US.UTF-8";
        }
        if (name == "TZ") {
            return "UTC";
        }
        return std::nullopt;
    };
}

std::string compact(std::int64_t n) {
    if (n < 1000) {
        return std::to_string(n);
    }
    return std::to_string((n + 500) / 1000) + "K";
}

using Series = state::WindowFillSeries;
using Fill = state::WindowFill;

Series capped(std::vector<Fill> windows) {
    Series series;
    series.windows = std::move(windows);
    series.basis = Series::ImpliedCap{80'000};
    series.capReading = Series::CapReading{80'000, 0.6};
    return series;
}

Series relative(std::vector<Fill> windows) {
    Series series;
    series.windows = std::move(windows);
    return series;
}

class WindowFillChartPresenterTest : public ::testing::Test {
protected:
    WindowFillChartContent present(const Series& series) {
        return WindowFillChartPresenter::present(series, compact, formatter_);
    }
    state::TextFormatter formatter_{englishUTC()};
};

TEST_F(WindowFillChartPresenterTest, OnlyAnActiveWindow) {
    const auto content = present(capped({{hour(13), 48'000, 0.61, false, true}}));
    EXPECT_EQ(content.headline, "window in progress");
    EXPECT_FALSE(content.averageLine);
    EXPECT_EQ(content.axisStart, "13:00");
    EXPECT_EQ(content.axisEnd, "now");
    EXPECT_FALSE(content.note);
    ASSERT_EQ(content.bars.size(), 1u);
    EXPECT_EQ(content.bars[0].tooltip, "13:00 — 48K tokens, 61% of the window (still open)");
    EXPECT_TRUE(content.bars[0].isActive);
}

TEST_F(WindowFillChartPresenterTest, SettledAverageWithAnImpliedCap) {
    const auto content = present(capped({{hour(2), 40'000, 0.5, false, false},
                                         {hour(7), 59'000, 0.74, false, false},
                                         {hour(12), 10'000, 0.125, false, true}}));
    EXPECT_EQ(content.headline, "avg 62% used");
    ASSERT_TRUE(content.averageLine);
    EXPECT_DOUBLE_EQ(*content.averageLine, 0.62);
    EXPECT_FALSE(content.headlineIsSecondary);
    EXPECT_FALSE(content.note);
    EXPECT_EQ(content.axisStart, "02:00");
    EXPECT_EQ(content.axisEnd, "now");
}

TEST_F(WindowFillChartPresenterTest, HeadlinesNotesAndTooltips) {
    struct Case {
        const char* name;
        Series series;
        const char* headline;
        std::optional<QString> note;
        bool averageLine;
    };
    const Case cases[] = {
        {"one settled, relative", relative({{hour(8), 950, 1.0, false, false}}), "1 window closed",
         QStringLiteral("heights are relative — no cap reading yet"), false},
        {"three settled, relative",
         relative({{hour(0), 950, 1.0, false, false},
                   {hour(5), 400, 0.42, false, false},
                   {hour(10), 100, 0.1, false, false}}),
         "3 windows closed", QStringLiteral("heights are relative — no cap reading yet"), true},
        {"clamped settled window",
         capped({{hour(1), 90'000, 1.0, true, false}, {hour(6), 56'000, 0.7, false, false}}),
         "avg ≥85% used", std::nullopt, true},
        {"one barely used", capped({{hour(1), 9'000, 0.1125, false, false}}), "avg 11% used",
         QStringLiteral("1 window barely used — opened, then idle"), false},
        {"two barely used",
         capped({{hour(1), 9'000, 0.1, false, false}, {hour(6), 8'000, 0.1, false, false}}),
         "avg 10% used", QStringLiteral("2 windows barely used — opened, then idle"), true},
    };
    for (const auto& c : cases) {
        const auto content = present(c.series);
        EXPECT_EQ(content.headline, c.headline) << c.name;
        EXPECT_EQ(content.note, c.note) << c.name;
        EXPECT_EQ(content.averageLine.has_value(), c.averageLine) << c.name;
        EXPECT_EQ(content.headlineIsSecondary,
                  std::holds_alternative<Series::Relative>(c.series.basis))
            << c.name;
    }
    EXPECT_EQ(present(cases[0].series).bars[0].tooltip, "08:00 — 950 tokens");
    EXPECT_EQ(present(cases[0].series).axisEnd, "08:00");
    EXPECT_EQ(present(cases[2].series).bars[0].tooltip, "01:00 — 90K tokens, ≥100% of the window");
}

} // namespace
} // namespace meterly::ui
