// The setup window on a real X server (Xvfb) with a real systemd user manager and the real proxy:
// its buttons connect Claude Code and take the connection out again.

#include "config/PortSelector.hpp"
#include "config/ProcessRunner.hpp"
#include "config/ProxyHealthProbe.hpp"
#include "config/SystemdUserBackend.hpp"
#include "core/Environment.hpp"
#include "state/BlockingWorker.hpp"
#include "state/SetupModel.hpp"
#include "support/LocalHTTPServer.hpp"
#include "support/SystemdUserManager.hpp"
#include "support/TempDir.hpp"
#include "support/VirtualDesktop.hpp"
#include "ui/platform/QtMainExecutor.hpp"
#include "ui/setup/DisconnectButton.hpp"
#include "ui/setup/SetupFlowView.hpp"
#include "ui/setup/SetupView.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <cstdlib>
#include <gtest/gtest.h>

namespace meterly::ui {
namespace {

using meterly::testing::SystemdUserManager;
using meterly::testing::TempDir;
using meterly::testing::VirtualDesktop;
using Action = SetupFlowContent::Action;

const std::string unit = "com.meterly.proxy.service";

core::EnvironmentLookup noVariables() {
    return [](std::string_view) { return std::optional<std::string>(); };
}

// Runs the event loop until `done` holds or `limit` passes.
bool waitFor(const std::function<bool()>& done, int limitMs = 60'000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return done();
}

// Clicks a widget's centre on the X server, as a user would.
void click(const VirtualDesktop& desktop, QWidget* widget) {
    const QPoint centre = widget->mapToGlobal(widget->rect().center());
    desktop.click(centre.x(), centre.y());
}

TEST(SetupWindowDesktopTest, TheWindowsButtonsConnectAndDisconnect) {
    if (!VirtualDesktop::available(VirtualDesktop::Tray::none)) {
        GTEST_SKIP() << "Xvfb, dbus-daemon, xdotool or ImageMagick missing";
    }
    TempDir home;
    std::string whyNot;
    auto manager = SystemdUserManager::start(home.path(), whyNot);
    if (!manager) {
        GTEST_SKIP() << "no systemd user manager can start here: " << whyNot;
    }
    VirtualDesktop desktop({.tray = VirtualDesktop::Tray::none, .width = 800, .height = 600});
    ::setenv("DISPLAY", desktop.display().c_str(), 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", desktop.busAddress().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    int argc = 1;
    char name[] = "ui_windows_desktop_tests";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);

    meterly::testing::ReservedPort free;
    const std::uint16_t port = free.port();
    free.release();
    QtMainExecutor main;
    state::BlockingWorker worker(main);
    state::SetupModel::Options options;
    options.scanFrom = port;
    options.portProbe = [](std::uint16_t) { return false; };
    options.installProbe = [](std::uint16_t onPort) {
        // A loaded machine under the sanitizers can take its time to start the proxy.
        return std::optional(config::ProxyHealthProbe(onPort, "127.0.0.1", 240, 0.25));
    };
    const auto settingsPath = home.path() / ".claude/settings.json";
    auto backend =
        std::make_shared<config::SystemdUserBackend>(std::make_shared<config::PosixProcessRunner>(),
                                                     noVariables(), manager->systemctl().string());
    state::SetupModel model(
        worker, config::ClaudeSettingsFile(settingsPath),
        [&](std::uint16_t onPort) {
            return std::optional(config::ProxyInstaller::standard(
                METERLY_EXECUTABLE, onPort, home.path(), noVariables(), backend));
        },
        true, options);

    SetupView view(model);
    view.setWindowTitle(QString::fromUtf8(SetupWindow::title));
    view.move(40, 40);
    view.show();
    ASSERT_TRUE(desktop.waitForWindow("Set up Meterly", std::chrono::seconds(10)));
    ASSERT_TRUE(
        waitFor([&] { return model.state() == state::SetupModel::State::notConfigured(); }));
    ASSERT_TRUE(waitFor([&] { return view.flow()->button(Action::setUp)->isVisible(); }, 2000));

    // Let the window settle where the server placed it before clicking into it.
    waitFor([] { return false; }, 500);
    click(desktop, view.flow()->button(Action::setUp));
    ASSERT_TRUE(
        waitFor([&] { return model.state() != state::SetupModel::State::notConfigured(); }, 5000))
        << "the click did not reach the window";
    ASSERT_TRUE(waitFor([&] { return !model.isBusy(); }, 150'000)) << "still working\n"
                                                                   << manager->diagnostics(unit);
    ASSERT_EQ(model.state(), state::SetupModel::State::configured(port))
        << model.state().message << "\n"
        << manager->diagnostics(unit);
    EXPECT_EQ(model.settings().inspect().existingBaseURL, config::PortSelector::baseURL(port));
    EXPECT_TRUE(std::filesystem::exists(home.path() / ".config/systemd/user" / unit));
    EXPECT_EQ(manager->run({"is-active", unit}), 0);
    EXPECT_TRUE(config::ProxyHealthProbe(port, "127.0.0.1", 1, 0.1).isHealthy());
    if (const char* folder = std::getenv("METERLY_SCREENSHOTS")) {
        QApplication::processEvents();
        desktop.screenshot(std::filesystem::path(folder) / "setup-connected-desktop.png");
    }

    auto* disconnect = view.flow()->disconnectButton();
    click(desktop, disconnect->askButton());
    ASSERT_TRUE(waitFor([&] { return disconnect->disconnectButton()->isVisible(); }, 5000));
    click(desktop, disconnect->disconnectButton());
    ASSERT_TRUE(
        waitFor([&] { return model.state() == state::SetupModel::State::notConfigured(); }));
    EXPECT_EQ(model.settings().inspect().existingBaseURL, std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(home.path() / ".config/systemd/user" / unit));
    EXPECT_NE(manager->run({"is-active", unit}), 0);
    EXPECT_FALSE(config::ProxyHealthProbe(port, "127.0.0.1", 1, 0.1).isHealthy());
}

} // namespace
} // namespace meterly::ui
