#include "ui/settings/ToggleSwitch.hpp"

#include "ui/theme/Palette.hpp"

#include <QPainter>

namespace meterly::ui {

ToggleSwitch::ToggleSwitch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setFixedSize(sizeHint());
}

QSize ToggleSwitch::sizeHint() const {
    return {26, 15};
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    const Palette colours = Palette::current();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = isChecked() ? colours.green : colours.tertiary;
    if (!isEnabled()) {
        fill = Palette::withOpacity(fill, 0.45);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    const double knob = track.height() - 3;
    const double x = isChecked() ? track.right() - 1.5 - knob : track.left() + 1.5;
    painter.setBrush(isEnabled() ? QColor(Qt::white) : QColor(245, 245, 245));
    painter.drawEllipse(QRectF(x, track.top() + 1.5, knob, knob));
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(colours.blue, 1));
        painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    }
}

} // namespace meterly::ui
