#include "ui/tray/RingGauge.hpp"

#include <QImage>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace meterly::ui {
namespace {

using Tone = RingGauge::Tone;

struct GaugeCase {
    double remaining;
    bool exhausted;
    Tone tone;
    int lit;
};

class RingGaugeCases : public ::testing::TestWithParam<GaugeCase> {};

TEST_P(RingGaugeCases, ColourAndLitDotsFollowTheRemainingShare) {
    const auto& c = GetParam();
    EXPECT_EQ(RingGauge::tone(std::isnan(c.remaining) ? 0 : std::clamp(c.remaining, 0.0, 1.0),
                              c.exhausted),
              c.tone);
    EXPECT_EQ(RingGauge::litCount(c.remaining), c.lit);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RingGaugeCases,
    ::testing::Values(GaugeCase{1.0, false, Tone::green, 21},
                      GaugeCase{0.99, false, Tone::green, 20}, GaugeCase{0.0, false, Tone::red, 0},
                      GaugeCase{0.01, false, Tone::red, 1}, GaugeCase{0.15, false, Tone::orange, 3},
                      GaugeCase{0.149, false, Tone::red, 3}, GaugeCase{0.40, false, Tone::green, 8},
                      GaugeCase{0.3999, false, Tone::orange, 8},
                      GaugeCase{0.5, false, Tone::green, 11}, GaugeCase{0.9, true, Tone::red, 19},
                      GaugeCase{-0.3, false, Tone::red, 0},
                      GaugeCase{std::numeric_limits<double>::quiet_NaN(), false, Tone::red, 0},
                      GaugeCase{1.7, false, Tone::green, 21}));

TEST(RingGauge, DotsGrowFromTheCentreUpThenSweepClockwise) {
    const int expected[21][2] = {{0, 0},   {0, 1},   {0, 2},  {1, 2},  {1, 1},  {2, 1},  {1, 0},
                                 {2, 0},   {2, -1},  {1, -1}, {1, -2}, {0, -1}, {0, -2}, {-1, -2},
                                 {-1, -1}, {-2, -1}, {-1, 0}, {-2, 0}, {-2, 1}, {-1, 1}, {-1, 2}};
    const auto& dots = RingGauge::dots();
    for (std::size_t i = 0; i < dots.size(); ++i) {
        EXPECT_NEAR(dots[i].x(), 2.2 * expected[i][0], 1e-9) << "dot " << i + 1;
        EXPECT_NEAR(dots[i].y(), 2.2 * expected[i][1], 1e-9) << "dot " << i + 1;
    }
}

// The colour of the pixel under dot `index`'s centre, with its alpha taken out.
QColor dotPixel(const QImage& image, std::size_t index, double scale) {
    const QPointF centre = RingGauge::dotCentre(index, scale);
    return image.pixelColor(static_cast<int>(std::floor(centre.x())),
                            static_cast<int>(std::floor(centre.y())));
}

bool sameInk(const QColor& pixel, const QColor& ink) {
    return pixel.alpha() > 0 && std::abs(pixel.red() - ink.red()) <= 6 &&
           std::abs(pixel.green() - ink.green()) <= 6 && std::abs(pixel.blue() - ink.blue()) <= 6;
}

struct PixelCase {
    double remaining;
    bool exhausted;
    double scale;
};

class RingGaugePixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(RingGaugePixels, LitDotsInTheToneAndTheRestInTheFaintInk) {
    const auto& c = GetParam();
    const Palette palette = Palette::light();
    const QImage image = RingGauge::image(c.remaining, c.exhausted, c.scale, palette);
    const int side = static_cast<int>(std::lround(18 * c.scale));
    ASSERT_EQ(image.size(), QSize(side, side));

    const QColor tone = RingGauge::color(c.remaining, c.exhausted, palette);
    const auto lit = static_cast<std::size_t>(RingGauge::litCount(c.remaining));
    for (std::size_t i = 0; i < RingGauge::dotCount; ++i) {
        const QColor pixel = dotPixel(image, i, c.scale);
        if (i < lit) {
            EXPECT_TRUE(sameInk(pixel, tone))
                << "dot " << i + 1 << " " << pixel.name().toStdString();
        } else {
            EXPECT_TRUE(sameInk(pixel, palette.neutralFaint))
                << "dot " << i + 1 << " " << pixel.name().toStdString();
        }
    }
    // The ring's top touches the image's top edge, in the tone.
    const QColor ringTop = image.pixelColor(side / 2, static_cast<int>(0.6 * c.scale));
    EXPECT_TRUE(sameInk(ringTop, tone)) << ringTop.name().toStdString();
    // Between the ring and the disc nothing is drawn.
    EXPECT_EQ(image.pixelColor(side / 2, static_cast<int>(2.0 * c.scale)).alpha(), 0);
}

INSTANTIATE_TEST_SUITE_P(ScalesOneAndTwo, RingGaugePixels,
                         ::testing::Values(PixelCase{0.5, false, 1}, PixelCase{0.5, false, 2},
                                           PixelCase{0.2, false, 1}, PixelCase{0.01, false, 2},
                                           PixelCase{0.9, true, 2}, PixelCase{1.0, false, 1},
                                           PixelCase{0.0, false, 2}));

TEST(RingGauge, PlaceholderIsAllInTheNeutralInk) {
    const Palette palette = Palette::darkAppearance();
    for (const double scale : {1.0, 2.0}) {
        const QImage image = RingGauge::placeholderImage(scale, palette);
        for (std::size_t i = 0; i < RingGauge::dotCount; ++i) {
            EXPECT_TRUE(sameInk(dotPixel(image, i, scale), palette.neutralInk)) << "dot " << i + 1;
        }
    }
}

TEST(RingGauge, ColoursFollowTheAppearance) {
    EXPECT_EQ(RingGauge::color(0.1, false, Palette::light()), Palette::light().red);
    EXPECT_EQ(RingGauge::color(0.3, false, Palette::darkAppearance()),
              Palette::darkAppearance().orange);
}

TEST(RingGauge, TrayIconCarriesPixmapsForLargerPanels) {
    const QIcon icon = RingGauge::icon(0.5, false, Palette::light());
    EXPECT_EQ(icon.pixmap(QSize(18, 18)).size(), QSize(18, 18));
    EXPECT_EQ(icon.pixmap(QSize(36, 36)).size(), QSize(36, 36));
}

} // namespace
} // namespace meterly::ui
