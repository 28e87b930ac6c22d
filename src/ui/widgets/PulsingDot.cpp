#include "ui/widgets/PulsingDot.hpp"

#include <QPainter>
#include <QVariantAnimation>
#include <cmath>

namespace meterly::ui {

PulsingDot::PulsingDot(double diameter, QWidget* parent)
    : QWidget(parent), diameter_(diameter), animation_(new QVariantAnimation(this)) {
    const int side = static_cast<int>(std::ceil(diameter_));
    setFixedSize(side, side);
    // One swing down and one back up, 0.9 s each, without end.
    animation_->setStartValue(1.0);
    animation_->setKeyValueAt(0.5, 0.35);
    animation_->setEndValue(1.0);
    animation_->setDuration(1800);
    animation_->setEasingCurve(QEasingCurve::InOutSine);
    animation_->setLoopCount(-1);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        opacity_ = value.toDouble();
        update();
    });
}

void PulsingDot::setColour(const QColor& colour) {
    if (colour_ == colour) {
        return;
    }
    colour_ = colour;
    update();
}

bool PulsingDot::isPulsing() const {
    return animation_->state() == QAbstractAnimation::Running;
}

QSize PulsingDot::sizeHint() const {
    const int side = static_cast<int>(std::ceil(diameter_));
    return {side, side};
}

void PulsingDot::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (animation_->state() != QAbstractAnimation::Running) {
        animation_->start();
    }
}

void PulsingDot::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // No work while nobody sees it; it starts again from full opacity.
    animation_->stop();
    opacity_ = 1.0;
}

void PulsingDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setOpacity(opacity_);
    painter.setBrush(colour_);
    const double radius = diameter_ / 2;
    painter.drawEllipse(QPointF(width() / 2.0, height() / 2.0), radius, radius);
}

} // namespace meterly::ui
