#pragma once

#include "state/LoginItem.hpp"

#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace meterly::state {
class BlockingWorker;
}

namespace meterly::ui {

class LaunchAtLoginRow;

// The General pane: the launch-at-login switch and the version.
class GeneralPane : public QWidget {
    Q_OBJECT
public:
    GeneralPane(state::LoginItem loginItem, state::BlockingWorker& worker, QString version,
                QWidget* parent = nullptr);

    LaunchAtLoginRow* launchAtLogin() const { return launchAtLogin_; }
    QLabel* versionLabel() const { return version_; }

protected:
    void changeEvent(QEvent* event) override;

    QVBoxLayout* column_;

private:
    void restyle();

    LaunchAtLoginRow* launchAtLogin_;
    QLabel* versionTitle_;
    QLabel* version_;
};

} // namespace meterly::ui
