#include "ui/widgets/ElidedLabel.hpp"

#include <QFontMetrics>

namespace meterly::ui {

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget* parent)
    : PaintedLabel(parent), mode_(mode) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QString ElidedLabel::shownText() const {
    return QFontMetrics(font()).elidedText(text(), mode_, width());
}

QSize ElidedLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 1, metrics.height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(QStringLiteral("…")) * 3, metrics.height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    paintLines({shownText()}, height());
}

} // namespace meterly::ui
