#include "ui/theme/Palette.hpp"

#include <QGuiApplication>
#include <QPalette>
#include <algorithm>

namespace meterly::ui {

Palette Palette::light() {
    return Palette{
        .red = QColor(255, 59, 48),
        .orange = QColor(255, 149, 0),
        .green = QColor(52, 199, 89),
        .blue = QColor(0, 122, 255),
        .primary = QColor(0, 0, 0, 217),
        .secondary = QColor(0, 0, 0, 128),
        .tertiary = QColor(0, 0, 0, 66),
        .panel = QColor(246, 246, 246),
        .divider = QColor(0, 0, 0, 26),
        .neutralInk = QColor(128, 128, 128),
        .neutralFaint = QColor(128, 128, 128, 140),
        .dark = false,
    };
}

Palette Palette::darkAppearance() {
    return Palette{
        .red = QColor(255, 69, 58),
        .orange = QColor(255, 159, 10),
        .green = QColor(48, 209, 88),
        .blue = QColor(10, 132, 255),
        .primary = QColor(255, 255, 255, 217),
        .secondary = QColor(255, 255, 255, 140),
        .tertiary = QColor(255, 255, 255, 64),
        .panel = QColor(40, 40, 42),
        .divider = QColor(255, 255, 255, 26),
        .neutralInk = QColor(128, 128, 128),
        .neutralFaint = QColor(128, 128, 128, 140),
        .dark = true,
    };
}

Palette Palette::matching(const QPalette& palette) {
    const bool isDark = palette.color(QPalette::Window).lightness() <
                        palette.color(QPalette::WindowText).lightness();
    return isDark ? darkAppearance() : light();
}

Palette Palette::current() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return light();
    }
    return matching(QGuiApplication::palette());
}

QColor Palette::colour(ColourRole role) const {
    switch (role) {
    case ColourRole::primary:
        return primary;
    case ColourRole::secondary:
        return secondary;
    case ColourRole::green:
        return green;
    case ColourRole::orange:
        return orange;
    }
    return primary;
}

QColor Palette::withOpacity(QColor colour, double opacity) {
    colour.setAlphaF(static_cast<float>(std::clamp(colour.alphaF() * opacity, 0.0, 1.0)));
    return colour;
}

} // namespace meterly::ui
