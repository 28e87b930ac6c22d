#pragma once

#include "ui/charts/DotBarLayout.hpp"

#include <QColor>
#include <QWidget>

namespace meterly::ui {

// A horizontal bar of dots: the columns from the left lit in a colour in proportion to a
// fraction, the others faint. As wide as it is given, exactly as high as its layout.
class DotBar : public QWidget {
    Q_OBJECT
public:
    DotBar(DotBarLayout layout, QWidget* parent = nullptr);

    void setFraction(double fraction);
    void setColor(const QColor& colour);
    double fraction() const { return fraction_; }
    const DotBarLayout& layout() const { return layout_; }

    // "<n> percent", n the unclamped fraction in whole percent.
    static QString accessibleValue(double fraction);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    DotBarLayout layout_;
    double fraction_ = 0;
    QColor colour_;
};

} // namespace meterly::ui
