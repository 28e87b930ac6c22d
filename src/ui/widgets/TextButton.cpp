#include "ui/widgets/TextButton.hpp"

#include <QFontMetrics>
#include <QPainter>
#include <QVariantAnimation>

namespace meterly::ui {

TextButton::TextButton(const QString& title, QWidget* parent)
    : QAbstractButton(parent), title_(title), fade_(new QVariantAnimation(this)) {
    fade_->setDuration(120);
    fade_->setEasingCurve(QEasingCurve::OutCubic);
    connect(fade_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        shown_ = value.value<QColor>();
        update();
    });
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(title);
    setAttribute(Qt::WA_Hover, true);
}

void TextButton::setTitle(const QString& title) {
    if (title_ == title) {
        return;
    }
    title_ = title;
    setAccessibleName(title);
    updateGeometry();
    update();
}

void TextButton::setColours(const QColor& normal, const QColor& hovered) {
    normal_ = normal;
    hovered_ = hovered;
    fade_->stop();
    shown_ = currentColour();
    update();
}

QColor TextButton::currentColour() const {
    return hovering_ ? hovered_ : normal_;
}

void TextButton::setElideMode(Qt::TextElideMode mode) {
    elide_ = mode;
    setSizePolicy(mode == Qt::ElideNone ? QSizePolicy::Fixed : QSizePolicy::Preferred,
                  QSizePolicy::Fixed);
    updateGeometry();
    update();
}

QSize TextButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(title_) + 2, metrics.height()};
}

QSize TextButton::minimumSizeHint() const {
    if (elide_ == Qt::ElideNone) {
        return sizeHint();
    }
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(QStringLiteral("…")) * 3, metrics.height()};
}

void TextButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor colour = shown_.isValid() ? shown_ : currentColour();
    if (isDown()) {
        colour.setAlphaF(colour.alphaF() * 0.7F);
    }
    painter.setPen(colour);
    painter.setFont(font());
    const QString shown =
        elide_ == Qt::ElideNone ? title_ : QFontMetrics(font()).elidedText(title_, elide_, width());
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

void TextButton::enterEvent(QEnterEvent* event) {
    hovering_ = true;
    fade_->stop();
    fade_->setStartValue(shown_.isValid() ? shown_ : normal_);
    fade_->setEndValue(hovered_);
    fade_->start();
    QAbstractButton::enterEvent(event);
}

void TextButton::leaveEvent(QEvent* event) {
    hovering_ = false;
    fade_->stop();
    fade_->setStartValue(shown_.isValid() ? shown_ : hovered_);
    fade_->setEndValue(normal_);
    fade_->start();
    QAbstractButton::leaveEvent(event);
}

} // namespace meterly::ui
