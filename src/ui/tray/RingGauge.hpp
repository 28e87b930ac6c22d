#pragma once

#include "ui/theme/Palette.hpp"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPointF>
#include <array>
#include <cstddef>
#include <optional>

namespace meterly::ui {

// The tray's image: a thin ring round a disc of 21 dots, of which a share proportional to the
// remaining fraction is lit in a traffic-light colour. The placeholder draws everything in one
// neutral ink; it stands in while there is no current reading.
class RingGauge {
public:
    RingGauge() = delete;

    // The side of the square image at scale 1.
    static constexpr double defaultSize = 18;
    static constexpr std::size_t dotCount = 21;

    enum class Tone { red, orange, green };

    // Red when exhausted or below 0.15 remaining, orange below 0.40, green otherwise.
    static Tone tone(double remaining, bool exhausted);
    static QColor color(double remaining, bool exhausted,
                        const Palette& palette = Palette::current());
    static QColor toneColour(Tone tone, const Palette& palette = Palette::current());

    // How many dots light for a remaining fraction: any share lights one, and a window that is
    // used at all never lights all 21.
    static int litCount(double remaining);

    // The dot offsets from the centre at scale 1 (y upwards), in lighting order: the centre,
    // up to 12 o'clock, then clockwise round the disc.
    static const std::array<QPointF, dotCount>& dots();

    // The coloured gauge, (18 * scale) pixels square. The unlit dots are in a faint neutral ink
    // (the tray's panel may be light or dark).
    static QImage image(double remaining, bool exhausted, double scale,
                        const Palette& palette = Palette::current());
    // The neutral gauge, all in the palette's neutral ink.
    static QImage placeholderImage(double scale, const Palette& palette = Palette::current());

    // Tray icons drawn at the sizes trays ask for, each at its own scale (so a 2x pixmap for
    // HiDPI panels comes with it). Without `remaining` the placeholder is drawn.
    static QIcon icon(std::optional<double> remaining, bool exhausted,
                      const Palette& palette = Palette::current());

    // Where dot `index` (in lighting order) sits in an image of the given scale, in pixels
    // from the top-left corner.
    static QPointF dotCentre(std::size_t index, double scale);
};

} // namespace meterly::ui
