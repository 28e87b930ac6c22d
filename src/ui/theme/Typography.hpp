#pragma once

#include <QFont>

class QLabel;
class QWidget;

namespace meterly::ui {

// The text styles the views name: caption and caption2 (the two smallest styles, caption2 the
// smaller), and the system font at a size and weight. Sizes are in points of the popover's
// geometry (logical pixels).
class Typography {
public:
    Typography() = delete;

    static QFont caption();
    static QFont caption2();
    static QFont system(double size, QFont::Weight weight = QFont::Normal);
    // `font` with digits of equal width.
    static QFont monospacedDigits(QFont font);

    // Sets the label's font and text colour.
    static void style(QLabel* label, const QFont& font, const QColor& colour);
};

} // namespace meterly::ui
