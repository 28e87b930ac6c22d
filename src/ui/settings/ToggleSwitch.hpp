#pragma once

#include <QAbstractButton>

namespace meterly::ui {

// A small on/off switch: a rounded track with a knob that sits right (on, green) or left (off).
// The owner decides what a click does; the switch shows what it is told with setChecked.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit ToggleSwitch(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace meterly::ui
