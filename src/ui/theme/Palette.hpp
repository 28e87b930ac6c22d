#pragma once

#include "ui/theme/ColourRole.hpp"

#include <QColor>

class QPalette;

namespace meterly::ui {

// The colours the views name by role. The traffic-light colours and the label inks follow the
// appearance (light or dark) of the desktop's palette, so every text and bar reads on either.
struct Palette {
    QColor red;
    QColor orange;
    QColor green;
    QColor blue;
    // The label inks: primary, secondary and tertiary (each fainter than the one before).
    QColor primary;
    QColor secondary;
    QColor tertiary;
    // The popover's panel and the dividers on it.
    QColor panel;
    QColor divider;
    // The one ink of monochrome tray images, which must read on light and dark panels alike, and
    // its faint form for the gauge's unlit dots.
    QColor neutralInk;
    QColor neutralFaint;
    bool dark = false;

    static Palette light();
    static Palette darkAppearance();
    // Dark when the palette's window colour is darker than its text colour.
    static Palette matching(const QPalette& palette);
    // The palette matching the running application's palette (light without an application).
    static Palette current();

    // The colour standing for `role`.
    QColor colour(ColourRole role) const;

    // `colour` with its alpha multiplied by `opacity`.
    static QColor withOpacity(QColor colour, double opacity);
};

} // namespace meterly::ui
