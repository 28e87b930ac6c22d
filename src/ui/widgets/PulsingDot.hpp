#pragma once

#include <QColor>
#include <QWidget>

class QVariantAnimation;

namespace meterly::ui {

// A small coloured dot whose opacity breathes from 1.0 to 0.35 and back, 0.9 s each way, once
// it is on screen.
class PulsingDot : public QWidget {
    Q_OBJECT
public:
    PulsingDot(double diameter, QWidget* parent = nullptr);

    void setColour(const QColor& colour);
    const QColor& colour() const { return colour_; }
    double opacity() const { return opacity_; }
    bool isPulsing() const;

    QSize sizeHint() const override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    double diameter_;
    QColor colour_;
    double opacity_ = 1.0;
    QVariantAnimation* animation_;
};

} // namespace meterly::ui
