#pragma once

#include <QColor>
#include <QWidget>

namespace meterly::ui {

// One line of plain text that is cut (in the middle, or at its end) when it does not fit.
class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return text_; }
    void setColour(const QColor& colour);
    // The text as it fits the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode mode_;
    QString text_;
    QColor colour_;
};

} // namespace meterly::ui
