#pragma once

#include "state/Autostart.hpp"
#include "state/BlockingWorker.hpp"
#include "state/ChangeSignal.hpp"
#include "state/DiagnosticsRefresh.hpp"
#include "state/SetupModel.hpp"
#include "ui/settings/GeneralPane.hpp"

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QLabel;
class QListWidget;
class QScrollArea;
class QStackedWidget;

namespace meterly::state {
class MainExecutor;
class SettingsRoute;
class TextFormatter;
class UsageViewModel;
} // namespace meterly::state

namespace meterly::ui {

class GeneralPane;
class NotificationsPane;
class ProxyPane;

// The settings window's identifier and title.
struct SettingsWindow {
    static constexpr const char* id = "meterly.settings";
    static constexpr const char* title = "Settings";
};

// The settings window's content: a sidebar of panes (General, Proxy, Notifications) bound to the
// shared settings route, and the chosen pane under its title in a scrolling detail area. Showing
// it re-reads Claude Code's settings and then the proxy's diagnostics; so does every later change
// of the setup state.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    struct Services {
        std::shared_ptr<const state::Autostart> loginItem;
        // The diagnostics' reads and restarts; the app's are built over the home folder.
        state::DiagnosticsRefresh::Operations diagnostics;
        // Shows a file in the file manager.
        std::function<void(const QString& path)> reveal;
        // The running app's version ("1.0.7"), and the one for the copied diagnostics.
        QString version;
        std::function<std::optional<std::string>()> appVersion;
        // The update check and the banner of the General pane; none without self-update.
        GeneralPane::Updates updates;
    };

    SettingsView(state::UsageViewModel& model, state::SetupModel& setup,
                 state::SettingsRoute& route, state::MainExecutor& main,
                 state::BlockingWorker& worker, std::shared_ptr<const state::TextFormatter> texts,
                 Services services, QWidget* parent = nullptr);
    ~SettingsView() override;

    QListWidget* sidebar() const { return sidebar_; }
    QLabel* titleLabel() const { return title_; }
    QWidget* shownPane() const;
    GeneralPane* generalPane() const { return general_; }
    ProxyPane* proxyPane() const { return proxy_; }
    NotificationsPane* notificationsPane() const { return notifications_; }
    state::DiagnosticsRefresh& diagnostics() { return *diagnostics_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void followRoute();
    void restyle();

    state::SetupModel& setup_;
    state::SettingsRoute& route_;
    std::unique_ptr<state::DiagnosticsRefresh> diagnostics_;
    QListWidget* sidebar_;
    QScrollArea* scroll_;
    QLabel* title_;
    QStackedWidget* panes_;
    GeneralPane* general_;
    ProxyPane* proxy_;
    NotificationsPane* notifications_;
    std::optional<state::SetupModel::State> lastSetupState_;
    state::Subscription routeChanged_;
    state::Subscription setupChanged_;
};

} // namespace meterly::ui
