#pragma once

#include "ui/widgets/PaintedLabel.hpp"

namespace meterly::ui {

// One line of plain text that is cut (in the middle, or at its end) when it does not fit.
class ElidedLabel : public PaintedLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);

    // The text as it fits the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode mode_;
};

} // namespace meterly::ui
