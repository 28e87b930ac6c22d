#pragma once

#include "state/Autostart.hpp"

#include <QWidget>
#include <memory>

namespace meterly::state {
class BlockingWorker;
}

namespace meterly::ui {

class SettingToggle;

// "Launch at login": the switch shows whether the autostart entry is there, as read back from
// the disk. Flipping it adds or removes the entry on the worker (the switch is disabled
// meanwhile) and then shows the state read back. Re-read when the row is shown and whenever a
// window of the app becomes the active one.
class LaunchAtLoginRow : public QWidget {
    Q_OBJECT
public:
    LaunchAtLoginRow(std::shared_ptr<const state::Autostart> item, state::BlockingWorker& worker,
                     QWidget* parent = nullptr);
    ~LaunchAtLoginRow() override;

    SettingToggle* toggle() const { return toggle_; }
    bool isBusy() const { return busy_; }
    // Reads the entry's state again.
    void reread();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void show(state::Autostart::State state);

    std::shared_ptr<const state::Autostart> item_;
    state::BlockingWorker& worker_;
    SettingToggle* toggle_;
    bool busy_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace meterly::ui
