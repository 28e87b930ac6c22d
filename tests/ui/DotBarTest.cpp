#include "ui/charts/DotBar.hpp"

#include "ui/charts/DotBarLayout.hpp"
#include "ui/theme/Palette.hpp"

#include <QImage>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace meterly::ui {
namespace {

const DotBarLayout rowLayout(4, 2.4, 2);

TEST(DotBarLayout, ColumnsAreCentredAcrossAndDown) {
    const auto centres = rowLayout.dotCentres(QSizeF(100, 6.4));
    ASSERT_EQ(centres.size(), 25u);
    EXPECT_DOUBLE_EQ(centres.front().front().x(), 2);
    EXPECT_DOUBLE_EQ(centres.back().front().x(), 98);
    ASSERT_EQ(centres.front().size(), 2u);
    EXPECT_NEAR(centres.front()[0].y(), 1.2, 1e-9);
    EXPECT_NEAR(centres.front()[1].y(), 5.2, 1e-9);
    EXPECT_NEAR(rowLayout.height(), 6.4, 1e-9);
}

TEST(DotBarLayout, NarrowWidths) {
    EXPECT_EQ(rowLayout.columns(2.3), 0);
    EXPECT_TRUE(rowLayout.dotCentres(QSizeF(2.3, 6.4)).empty());
    EXPECT_EQ(rowLayout.columns(2.4), 1);
    EXPECT_EQ(rowLayout.columns(100), 25);
    EXPECT_EQ(DotBarLayout(4, 2.4, 0).rows(), 1);
    EXPECT_EQ(DotBarLayout(4, 2.4, -3), DotBarLayout(4, 2.4, 1));
}

TEST(DotBarLayout, LitColumns) {
    struct Case {
        double fraction;
        int columns;
        int lit;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& c : {Case{0.5, 25, 13}, Case{0.01, 25, 1}, Case{0.99, 25, 24},
                          Case{1.0, 25, 25}, Case{0, 25, 0}, Case{-0.5, 25, 0}, Case{nan, 25, 0},
                          Case{1.4, 25, 25}, Case{0.5, 1, 0}, Case{1.0, 1, 1}, Case{0.5, 0, 0}}) {
        EXPECT_EQ(DotBarLayout::litColumns(c.fraction, c.columns), c.lit)
            << c.fraction << " of " << c.columns;
    }
}

TEST(DotBar, AccessibleValueIsTheUnclampedPercent) {
    EXPECT_EQ(DotBar::accessibleValue(0.456), QStringLiteral("46 percent"));
    EXPECT_EQ(DotBar::accessibleValue(1.4), QStringLiteral("140 percent"));
}

TEST(DotBar, DrawsLitColumnsInItsColourAndTheRestFaint) {
    DotBar bar(rowLayout);
    bar.setFraction(0.5);
    bar.setColor(Palette::light().red);
    bar.resize(100, 7);
    const QImage image = bar.grab().toImage();
    ASSERT_EQ(image.width(), 100);
    // Column 12 (the 13th, lit) at x = 50, column 13 (faint) at x = 54; upper row.
    const QColor lit = image.pixelColor(50, 1);
    const QColor faint = image.pixelColor(54, 1);
    EXPECT_GT(lit.red(), 200);
    EXPECT_LT(lit.green(), 120);
    EXPECT_LT(faint.red(), 240);
    EXPECT_NEAR(faint.red(), faint.green(), 8); // a grey, not the red
}

} // namespace
} // namespace meterly::ui
