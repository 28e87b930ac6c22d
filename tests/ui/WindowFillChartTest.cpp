#include "ui/charts/WindowFillChart.hpp"

#include "ui/charts/WindowFillPlot.hpp"
#include "ui/theme/Palette.hpp"

#include <QImage>
#include <QLabel>
#include <gtest/gtest.h>

namespace meterly::ui {
namespace {

using Bar = WindowFillChartContent::Bar;

TEST(WindowFillPlot, BarsShareTheWidthThreePointsApartOnTheBottom) {
    const std::vector<Bar> bars{{0.5, false, "a"}, {1.0, false, "b"}, {0.0, true, "c"}};
    const auto rects = WindowFillPlot::barRects(bars, QSizeF(212, 30));
    ASSERT_EQ(rects.size(), 3u);
    const double width = (212 - 2 * 3) / 3.0;
    for (std::size_t i = 0; i < rects.size(); ++i) {
        EXPECT_NEAR(rects[i].width(), width, 1e-9);
        EXPECT_NEAR(rects[i].left(), static_cast<double>(i) * (width + 3), 1e-9);
        EXPECT_NEAR(rects[i].bottom(), 30, 1e-9);
    }
    EXPECT_NEAR(rects[0].height(), 15, 1e-9);
    EXPECT_NEAR(rects[1].height(), 30, 1e-9);  // a clamped window is the full plot
    EXPECT_NEAR(rects[2].height(), 1.5, 1e-9); // an empty window still shows
    EXPECT_NEAR(rects.back().right(), 212, 1e-9);
}

TEST(WindowFillPlot, AverageLineSitsAtTheAverageHeight) {
    WindowFillChartContent content;
    EXPECT_FALSE(WindowFillPlot::averageLineRect(content, QSizeF(200, 30)));
    content.averageLine = 0.6;
    const auto line = WindowFillPlot::averageLineRect(content, QSizeF(200, 30));
    ASSERT_TRUE(line);
    EXPECT_NEAR(line->height(), 1, 1e-9);
    EXPECT_NEAR(line->width(), 200, 1e-9);
    EXPECT_NEAR(line->center().y(), 30 - 18, 1e-9);
}

WindowFillChartContent twoSettledAndOneActive() {
    WindowFillChartContent content;
    content.bars = {{0.8, false, "08:00 — 40K tokens, 80% of the window"},
                    {0.4, false, "13:00 — 20K tokens, 40% of the window"},
                    {0.9, true, "18:00 — 45K tokens, 90% of the window (still open)"}};
    content.averageLine = 0.6;
    content.axisStart = "08:00";
    content.axisEnd = "now";
    content.headline = "avg 60% used";
    return content;
}

TEST(WindowFillPlot, EachBarHasItsOwnTooltip) {
    WindowFillPlot plot;
    plot.resize(212, 30);
    plot.setContent(twoSettledAndOneActive());
    EXPECT_EQ(plot.tooltipAt(QPointF(10, 2)), "08:00 — 40K tokens, 80% of the window");
    EXPECT_EQ(plot.tooltipAt(QPointF(200, 29)),
              "18:00 — 45K tokens, 90% of the window (still open)");
    EXPECT_FALSE(plot.tooltipAt(QPointF(69.5, 29))); // in the gap between two bars
}

TEST(WindowFillPlot, ActiveBarIsLighterThanSettledOnes) {
    WindowFillPlot plot;
    plot.resize(212, 30);
    auto content = twoSettledAndOneActive();
    content.averageLine.reset();
    plot.setContent(content);
    const QImage image = plot.grab().toImage();
    const QColor settled = image.pixelColor(30, 28);
    const QColor active = image.pixelColor(180, 28);
    const QColor green = Palette::light().green;
    EXPECT_NEAR(settled.green(), green.green(), 4);
    EXPECT_NEAR(settled.red(), green.red(), 4);
    EXPECT_GT(active.red(), settled.red() + 40); // blended with the background
}

TEST(WindowFillChart, ShowsItsTextsAndHidesAnAbsentNote) {
    WindowFillChart chart;
    chart.setContent(twoSettledAndOneActive());
    const auto labels = chart.findChildren<QLabel*>();
    QStringList texts;
    for (auto* label : labels) {
        if (!label->isHidden()) {
            texts << label->text();
        }
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
    EXPECT_TRUE(texts.contains("08:00"));
    EXPECT_TRUE(texts.contains("now"));
    EXPECT_TRUE(texts.contains("Window fill"));
    EXPECT_TRUE(texts.contains("avg 60% used"));
    EXPECT_EQ(texts.size(), 4);

    auto withNote = twoSettledAndOneActive();
    withNote.note = "1 window barely used — opened, then idle";
    chart.setContent(withNote);
    int visible = 0;
    for (auto* label : chart.findChildren<QLabel*>()) {
        visible += label->isHidden() ? 0 : 1;
    }
    EXPECT_EQ(visible, 5);
}

} // namespace
} // namespace meterly::ui
