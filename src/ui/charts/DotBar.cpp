#include "ui/charts/DotBar.hpp"

#include "ui/theme/Palette.hpp"
#include "ui/widgets/Share.hpp"

#include <QPainter>
#include <cmath>

namespace meterly::ui {

DotBar::DotBar(DotBarLayout layout, QWidget* parent) : QWidget(parent), layout_(layout) {
    const int height = static_cast<int>(std::ceil(layout_.height()));
    setFixedHeight(height);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(accessibleValue(0));
}

void DotBar::setFraction(double fraction) {
    if (fraction_ == fraction) {
        return;
    }
    fraction_ = fraction;
    setAccessibleName(accessibleValue(fraction));
    update();
}

void DotBar::setColor(const QColor& colour) {
    if (colour_ == colour) {
        return;
    }
    colour_ = colour;
    update();
}

QString DotBar::accessibleValue(double fraction) {
    const double percent = std::isfinite(fraction) ? std::round(fraction * 100) : 0;
    return QStringLiteral("%1 percent").arg(static_cast<qint64>(percent));
}

QSize DotBar::sizeHint() const {
    return {100, static_cast<int>(std::ceil(layout_.height()))};
}

void DotBar::paintEvent(QPaintEvent*) {
    const auto centres = layout_.dotCentres(QSizeF(width(), layout_.height()));
    if (centres.empty()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    // The canvas is exactly the layout's height, centred in the widget.
    painter.translate(0, (height() - layout_.height()) / 2);
    const int lit = DotBarLayout::litColumns(fraction_, static_cast<int>(centres.size()));
    const QColor faint = Palette::withOpacity(Palette::current().secondary, 0.25);
    const double radius = layout_.dotDiameter() / 2;
    for (std::size_t i = 0; i < centres.size(); ++i) {
        painter.setBrush(static_cast<int>(i) < lit ? colour_ : faint);
        for (const QPointF& centre : centres[i]) {
            painter.drawEllipse(centre, radius, radius);
        }
    }
}

} // namespace meterly::ui
