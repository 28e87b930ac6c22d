#include "ui/settings/LaunchAtLoginRow.hpp"

#include "state/BlockingWorker.hpp"
#include "ui/settings/SettingToggle.hpp"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QWindow>

namespace meterly::ui {

LaunchAtLoginRow::LaunchAtLoginRow(std::shared_ptr<const state::Autostart> item,
                                   state::BlockingWorker& worker, QWidget* parent)
    : QWidget(parent), item_(std::move(item)), worker_(worker),
      toggle_(new SettingToggle(QStringLiteral("Launch at login"), std::nullopt, this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(toggle_);
    toggle_->onToggled = [this](bool wanted) {
        if (busy_) {
            return;
        }
        busy_ = true;
        toggle_->setRowEnabled(false);
        worker_.run(
            [item = item_, wanted] {
                // A failure to write leaves the entry as it was; the state read back says so.
                (void)item->setEnabled(wanted);
                return item->state();
            },
            [this, alive = alive_](state::Outcome<state::Autostart::State> outcome) {
                if (!*alive) {
                    return;
                }
                busy_ = false;
                toggle_->setRowEnabled(true);
                if (outcome.ok()) {
                    show(outcome.get());
                }
            });
    };
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
        if (window != nullptr) {
            reread();
        }
    });
}

LaunchAtLoginRow::~LaunchAtLoginRow() {
    *alive_ = false;
}

void LaunchAtLoginRow::showEvent(QShowEvent* event) {
    reread();
    QWidget::showEvent(event);
}

void LaunchAtLoginRow::reread() {
    if (busy_) {
        return;
    }
    worker_.run([item = item_] { return item->state(); },
                [this, alive = alive_](state::Outcome<state::Autostart::State> outcome) {
                    if (*alive && !busy_ && outcome.ok()) {
                        show(outcome.get());
                    }
                });
}

void LaunchAtLoginRow::show(state::Autostart::State state) {
    // Waiting for approval or not available reads off, like disabled.
    toggle_->setOn(state == state::Autostart::State::enabled);
}

} // namespace meterly::ui
