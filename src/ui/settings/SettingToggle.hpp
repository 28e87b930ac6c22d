#pragma once

#include <QWidget>
#include <functional>
#include <optional>

class QLabel;

namespace meterly::ui {

class ToggleSwitch;

// One switch row: a title, an optional caption under it, and a small switch at the trailing
// edge. The row shows the value it is given; flipping the switch asks `onToggled` with the new
// value and leaves the shown value to the owner.
class SettingToggle : public QWidget {
    Q_OBJECT
public:
    SettingToggle(const QString& title, std::optional<QString> caption, QWidget* parent = nullptr);

    void setOn(bool on);
    bool isOn() const;
    void setRowEnabled(bool enabled);
    bool isRowEnabled() const { return enabled_; }
    std::function<void(bool)> onToggled;

    ToggleSwitch* toggle() const { return switch_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* captionLabel() const { return caption_; }

protected:
private:
    void restyle();

    QLabel* title_;
    QLabel* caption_;
    ToggleSwitch* switch_;
    bool on_ = false;
    bool enabled_ = true;
};

} // namespace meterly::ui
