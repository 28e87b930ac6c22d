#include "app/AppScene.hpp"

#include "app/ProxyEndpoint.hpp"
#include "config/AppVersion.hpp"
#include "config/ClaudeSettingsFile.hpp"
#include "config/PortSelector.hpp"
#include "history/UsageHistoryStore.hpp"
#include "proxy/StatusClient.hpp"
#include "state/BlockingWorker.hpp"
#include "state/DiagnosticsRefresh.hpp"
#include "state/LoginItem.hpp"
#include "state/NotifySendFallback.hpp"
#include "state/PollingUsageSource.hpp"
#include "state/ProxyDiagnosticsReader.hpp"
#include "state/SettingsRoute.hpp"
#include "state/SetupModel.hpp"
#include "state/TextFormatter.hpp"
#include "state/UsageViewModel.hpp"
#include "ui/platform/DBusNotificationCentre.hpp"
#include "ui/platform/DesktopActions.hpp"
#include "ui/platform/QtMainExecutor.hpp"
#include "ui/platform/QuitOnTermination.hpp"
#include "ui/scene/MeterlyApp.hpp"
#include "ui/scene/WindowRegistry.hpp"
#include "ui/settings/SettingsView.hpp"
#include "ui/setup/SetupView.hpp"
#include "ui/tray/TrayHostWatch.hpp"
#include "ui/update/UpdateStateOffer.hpp"
#include "update/LaunchHealth.hpp"
#include "update/UpdateStateFactory.hpp"

#include <QApplication>
#include <QDBusConnection>
#include <QMetaObject>
#include <filesystem>
#include <system_error>

namespace meterly::app {
namespace {

constexpr core::Seconds pollInterval = 2;
constexpr core::Seconds historyRetention = 2'592'000;

} // namespace

int AppScene::run(const AppLaunch& launch, state::UpdateCheckStore& defaults) {
    // Qt keeps argc and argv for the life of the application.
    static int argc = 1;
    static char name[] = "meterly";
    static char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Meterly"));
    QApplication::setDesktopFileName(QStringLiteral("meterly"));
    // A tray app: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    ui::QuitOnTermination quitOnTermination;

    const auto& environment = launch.environment;
    const auto& home = launch.homeDirectory;
    ui::QtMainExecutor main;
    state::BlockingWorker installerWorker(main);
    state::BlockingWorker desktopWorker(main);
    // The proxy's status is read here, one reading at a time.
    state::BlockingWorker statusWorker(main);

    // Alerts go to the desktop's notification server, else through notify-send.
    ui::DBusNotificationCentre centre;
    state::NotifySendFallback fallback(environment);
    // Self-update.
    std::shared_ptr<update::UpdateState> updates = update::UpdateStateFactory::standard(
        main, defaults, launch.executablePath, home, environment);
    ui::UpdateStateOffer offer(*updates);

    state::UsageViewModel usage(main, defaults, centre, fallback, updates);
    // Once an update has swapped the bundle, this copy leaves the proxy's service to the new one.
    state::SetupModel::Options setupOptions;
    setupOptions.bundleReplaced = [&updates] { return updates->bundleReplaced(); };
    state::SetupModel setup(installerWorker, config::ClaudeSettingsFile::standard(home),
                            state::SetupModel::bundledInstaller(home), true,
                            std::move(setupOptions));

    ui::DesktopActions desktop(desktopWorker, environment, home);
    // The settings window's diagnostics are read on a worker of their own; restarts of the agent
    // go to the installer's.
    state::BlockingWorker diagnosticsWorker(main);
    auto texts = std::make_shared<const state::TextFormatter>(environment);
    // The scene, once made; the windows are made on first opening, after it.
    ui::MeterlyApp* scene = nullptr;
    ui::WindowRegistry windows;
    windows.add(ui::SetupWindow::id, QString::fromUtf8(ui::SetupWindow::title),
                [&setup] { return new ui::SetupView(setup); });
    windows.add(ui::SettingsWindow::id, QString::fromUtf8(ui::SettingsWindow::title), [&] {
        ui::SettingsView::Services settings{
            std::make_shared<state::LoginItem>(state::LoginItem::running(home)),
            state::DiagnosticsRefresh::standard(state::ProxyDiagnosticsReader::standard(home),
                                                diagnosticsWorker, installerWorker, setup,
                                                [&usage] { return usage.lastTrafficAt(); }),
            [&desktop](const QString& path) { desktop.revealFile(path); },
            QString::fromStdString(config::AppVersion::current()),
            [&updates] { return updates->currentVersion(); },
            {}};
        settings.updates.state = updates.get();
        settings.updates.offer = &offer;
        settings.updates.texts = texts;
        settings.updates.now = [&usage] { return usage.now(); };
        settings.updates.bannerActions = scene->bannerActions();
        return new ui::SettingsView(usage, setup, state::SettingsRoute::shared(), main,
                                    installerWorker, texts, std::move(settings));
    });

    ui::MeterlyApp::Services services;
    services.explicitPort = ProxyEndpoint::explicitPort(launch.arguments, environment);
    services.configuredPort = [home, environment] {
        return ProxyEndpoint::configuredPort(home, environment);
    };
    services.defaultPort = [environment] { return config::PortSelector::defaultPort(environment); };
    services.recordReachedMenuBar = [&defaults] {
        update::LaunchHealth(defaults).recordReachedMenuBar();
    };
    services.makeSource = [&main, &statusWorker](std::uint16_t port) {
        return std::make_shared<state::PollingUsageSource>(
            main, statusWorker, proxy::StatusClient(port, "127.0.0.1"), pollInterval);
    };
    services.makeHistoryStore = [home, environment] {
        return std::make_shared<history::UsageHistoryStore>(
            history::UsageHistoryStore::defaultRoot(environment, home), historyRetention, home);
    };
    const auto quit = [] {
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    };
    services.relaunchAfterUpdate = [relaunch = launch.relaunchAfterUpdate, quit] {
        relaunch(quit);
    };
    services.quit = quit;
    services.isDirectory = [](const std::string& path) {
        std::error_code error;
        return std::filesystem::is_directory(path, error);
    };

    // The tray hosts: the StatusNotifierItem watcher on the session bus and, on X, the XEmbed
    // tray of the display.
    std::optional<std::string> display;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        display = environment("DISPLAY").value_or(std::string());
    }
    ui::TrayHostWatch trayHosts(QDBusConnection::sessionBus(), display);
    ui::MeterlyApp app({usage, setup, &offer}, std::move(services), windows, desktop, desktopWorker,
                       trayHosts);
    scene = &app;
    app.start();
    const int status = QApplication::exec();
    usage.stop();
    return status;
}

} // namespace meterly::app
