#include "ui/widgets/PaintedLabel.hpp"

#include <QPainter>

namespace meterly::ui {

void PaintedLabel::setText(const QString& text) {
    if (text_ == text) {
        return;
    }
    text_ = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void PaintedLabel::setColour(const QColor& colour) {
    colour_ = colour;
    update();
}

void PaintedLabel::paintLines(const QStringList& lines, int lineHeight) {
    QPainter painter(this);
    painter.setPen(colour_);
    painter.setFont(font());
    int y = 0;
    for (const QString& line : lines) {
        painter.drawText(QRect(0, y, width(), lineHeight),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
        y += lineHeight;
    }
}

} // namespace meterly::ui
