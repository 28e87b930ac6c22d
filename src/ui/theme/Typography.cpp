#include "ui/theme/Typography.hpp"

#include <QLabel>
#include <QPalette>

namespace meterly::ui {
namespace {

QFont sized(double pixels, QFont::Weight weight) {
    QFont font;
    font.setPixelSize(static_cast<int>(pixels));
    font.setWeight(weight);
    return font;
}

} // namespace

QFont Typography::caption() {
    return sized(11, QFont::Normal);
}

QFont Typography::caption2() {
    return sized(10, QFont::Normal);
}

QFont Typography::system(double size, QFont::Weight weight) {
    return sized(size, weight);
}

QFont Typography::monospacedDigits(QFont font) {
    // The desktop fonts Meterly ships with (DejaVu, Noto, Cantarell) draw every digit at one
    // width already; Qt 6.4 has no switch for the tabular-figures feature.
    return font;
}

void Typography::style(QLabel* label, const QFont& font, const QColor& colour) {
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    label->setPalette(palette);
}

} // namespace meterly::ui
