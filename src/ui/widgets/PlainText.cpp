#include "ui/widgets/PlainText.hpp"

#include <QAbstractButton>
#include <QLabel>

namespace meterly::ui {

QString PlainText::toolTip(const QString& text) {
    if (text.isEmpty()) {
        return text;
    }
    // "<qt>" makes Qt read the tip as rich text, in which the escaped text stands literally.
    return QStringLiteral("<qt style=\"white-space:pre\">") + text.toHtmlEscaped() +
           QStringLiteral("</qt>");
}

QString PlainText::buttonTitle(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return escaped;
}

QLabel* PlainText::label(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    return label;
}

void PlainText::setToolTip(QWidget* widget, const QString& text) {
    widget->setToolTip(toolTip(text));
}

void PlainText::setButtonTitle(QAbstractButton* button, const QString& text) {
    button->setText(buttonTitle(text));
}

} // namespace meterly::ui
