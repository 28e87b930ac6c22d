#pragma once

#include <QColor>
#include <QWidget>

namespace meterly::ui {

// Plain text in one colour that the widget lays out and paints itself, line by line: the base of
// the labels that cut their text (ElidedLabel, LineLimitedLabel).
class PaintedLabel : public QWidget {
    Q_OBJECT
public:
    void setText(const QString& text);
    const QString& text() const { return text_; }
    void setColour(const QColor& colour);

protected:
    using QWidget::QWidget;

    // Paints `lines` from the top, each in a box of the full width and `lineHeight`.
    void paintLines(const QStringList& lines, int lineHeight);

private:
    QString text_;
    QColor colour_;
};

} // namespace meterly::ui
