#include "ui/tray/RingGauge.hpp"

#include "ui/widgets/Share.hpp"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace meterly::ui {
namespace {

constexpr double ringLineWidth = 1.2;
constexpr double dotDiameter = 1.4;
constexpr double gridStep = 2.2;
constexpr double discRadius = 6;

std::array<QPointF, RingGauge::dotCount> computeDots() {
    struct Candidate {
        QPointF offset;
        double angle;
        double distance;
    };
    std::vector<Candidate> kept;
    for (int r = -2; r <= 2; ++r) {
        for (int k = -2; k <= 2; ++k) {
            const double x = gridStep * k;
            const double y = gridStep * r;
            const double distance = std::hypot(x, y);
            if (distance > discRadius) {
                continue;
            }
            double angle = std::atan2(x, y);
            if (angle < 0) {
                angle += 2 * std::numbers::pi;
            }
            kept.push_back({QPointF(x, y), angle, distance});
        }
    }
    std::stable_sort(kept.begin(), kept.end(), [](const Candidate& a, const Candidate& b) {
        if (a.angle != b.angle) {
            return a.angle < b.angle;
        }
        return a.distance < b.distance;
    });
    std::array<QPointF, RingGauge::dotCount> dots{};
    for (std::size_t i = 0; i < dots.size() && i < kept.size(); ++i) {
        dots[i] = kept[i].offset;
    }
    return dots;
}

// Draws the ring in `ringColour` and each dot in the colour `dotColour(index)` gives.
template <typename DotColour>
QImage draw(double scale, const QColor& ringColour, DotColour dotColour) {
    const int side = std::max(1, static_cast<int>(std::lround(RingGauge::defaultSize * scale)));
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);

    const QPointF centre(RingGauge::defaultSize * scale / 2, RingGauge::defaultSize * scale / 2);
    const double lineWidth = ringLineWidth * scale;
    const double radius = (RingGauge::defaultSize * scale - lineWidth) / 2;
    QPen pen(ringColour);
    pen.setWidthF(lineWidth);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, radius, radius);

    painter.setPen(Qt::NoPen);
    const double dotRadius = dotDiameter * scale / 2;
    for (std::size_t i = 0; i < RingGauge::dotCount; ++i) {
        painter.setBrush(dotColour(i));
        painter.drawEllipse(RingGauge::dotCentre(i, scale), dotRadius, dotRadius);
    }
    return image;
}

} // namespace

RingGauge::Tone RingGauge::tone(double remaining, bool exhausted) {
    if (exhausted || remaining < 0.15) {
        return Tone::red;
    }
    if (remaining < 0.40) {
        return Tone::orange;
    }
    return Tone::green;
}

QColor RingGauge::color(double remaining, bool exhausted, const Palette& palette) {
    return toneColour(tone(remaining, exhausted), palette);
}

QColor RingGauge::toneColour(Tone tone, const Palette& palette) {
    switch (tone) {
    case Tone::red:
        return palette.red;
    case Tone::orange:
        return palette.orange;
    case Tone::green:
        break;
    }
    return palette.green;
}

int RingGauge::litCount(double remaining) {
    constexpr auto n = static_cast<std::int64_t>(dotCount);
    const double share = clampedShare(remaining);
    auto lit = roundedHalfAway(share * static_cast<double>(n));
    if (share > 0 && lit < 1) {
        lit = 1;
    }
    if (share < 1 && lit > n - 1) {
        lit = n - 1;
    }
    return static_cast<int>(lit);
}

const std::array<QPointF, RingGauge::dotCount>& RingGauge::dots() {
    static const auto computed = computeDots();
    return computed;
}

QPointF RingGauge::dotCentre(std::size_t index, double scale) {
    const QPointF offset = dots().at(index);
    const double half = defaultSize * scale / 2;
    // The offsets grow upwards; image rows grow downwards.
    return {half + scale * offset.x(), half - scale * offset.y()};
}

QImage RingGauge::image(double remaining, bool exhausted, double scale, const Palette& palette) {
    const double share = clampedShare(remaining);
    const QColor colour = color(share, exhausted, palette);
    const auto lit = static_cast<std::size_t>(litCount(share));
    return draw(scale, colour,
                [&](std::size_t i) { return i < lit ? colour : palette.neutralFaint; });
}

QImage RingGauge::placeholderImage(double scale, const Palette& palette) {
    return draw(scale, palette.neutralInk, [&](std::size_t) { return palette.neutralInk; });
}

QIcon RingGauge::icon(std::optional<double> remaining, bool exhausted, const Palette& palette) {
    QIcon icon;
    for (const int side : {16, 18, 22, 24, 32, 36, 48, 64}) {
        const double scale = side / defaultSize;
        const QImage image = remaining ? RingGauge::image(*remaining, exhausted, scale, palette)
                                       : placeholderImage(scale, palette);
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace meterly::ui
