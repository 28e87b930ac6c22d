#include "ui/widgets/Divider.hpp"

#include "ui/theme/Palette.hpp"

#include <QPainter>

namespace meterly::ui {

Divider::Divider(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Palette::current().divider);
}

} // namespace meterly::ui
