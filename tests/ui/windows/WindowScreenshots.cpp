// With METERLY_SCREENSHOTS set to a folder, writes the setup window in each state that matters
// and the settings window's panes there, in light and dark.
#include "WindowsTestSupport.hpp"
#include "config/PortSelector.hpp"
#include "history/UsageHistoryStore.hpp"
#include "state/LoginItem.hpp"
#include "state/SettingsRoute.hpp"
#include "support/ScriptedUsageSource.hpp"
#include "ui/settings/SettingsView.hpp"
#include "ui/setup/DisconnectButton.hpp"
#include "ui/setup/SetupFlowView.hpp"
#include "ui/setup/SetupView.hpp"
#include "ui/update/UpdateStateOffer.hpp"
#include "update/UpdateState.hpp"

#include <QApplication>
#include <QPalette>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace meterly::ui {
namespace {

QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(40, 40, 42));
    palette.setColor(QPalette::WindowText, QColor(235, 235, 235));
    palette.setColor(QPalette::Base, QColor(30, 30, 32));
    palette.setColor(QPalette::AlternateBase, QColor(48, 48, 50));
    palette.setColor(QPalette::Text, QColor(235, 235, 235));
    palette.setColor(QPalette::Button, QColor(58, 58, 60));
    palette.setColor(QPalette::ButtonText, QColor(235, 235, 235));
    palette.setColor(QPalette::Highlight, QColor(10, 132, 255));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Mid, QColor(70, 70, 72));
    palette.setColor(QPalette::Light, QColor(80, 80, 82));
    palette.setColor(QPalette::Dark, QColor(20, 20, 22));
    return palette;
}

// Transcript lines: some responses in most of the last 24 hours.
void writeTranscripts(const std::filesystem::path& root, core::Date now) {
    std::filesystem::create_directories(root / "-home-me-app");
    std::ofstream out(root / "-home-me-app" / "session.jsonl");
    int id = 0;
    for (int hour = 23; hour >= 0; --hour) {
        const int count = (hour * 7 + 3) % 11 + (hour < 4 ? 12 : 0) - (hour % 5 == 0 ? 9 : 0);
        for (int k = 0; k < count; ++k) {
            const auto when = now - hour * 3600.0 - k * 60.0 - 30;
            out << R"({"type":"assistant","timestamp":")" << state::internetDateTimeUTC(when)
                << R"(","sessionId":"s","cwd":"/home/me/app","message":{"id":"m)" << ++id
                << R"(","model":"claude-x","usage":{"input_tokens":10,"output_tokens":20}}})"
                << "\n";
        }
    }
}

class WindowScreenshots : public ::testing::Test {
protected:
    void SetUp() override {
        const char* folder = std::getenv("METERLY_SCREENSHOTS");
        if (folder == nullptr) {
            GTEST_SKIP() << "METERLY_SCREENSHOTS not set";
        }
        folder_ = folder;
        original_ = QApplication::palette();
    }
    void TearDown() override { QApplication::setPalette(original_); }

    void save(QWidget& widget, const std::string& name, bool dark) {
        widget.show();
        widget.adjustSize();
        QApplication::processEvents();
        widget.grab().save(QString::fromStdString(
            (folder_ / (name + (dark ? "-dark.png" : "-light.png"))).string()));
    }

    std::filesystem::path folder_;
    QPalette original_;
};

TEST_F(WindowScreenshots, SetupWindow) {
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : original_);
        testing::SetupFixture setup;
        SetupView view(*setup.model);
        view.show();
        save(view, "setup-connect", dark);
        setup.writeBaseURL("https://llm-gateway.corp.example.com/anthropic");
        setup.model->refresh();
        save(view, "setup-conflict", dark);
        setup.writeSettings("{\"env\": [}");
        setup.model->refresh();
        save(view, "setup-failed", dark);
        std::filesystem::remove(setup.settingsPath());
        setup.model->refresh();
        setup.model->setUp();
        save(view, "setup-working", dark);
        ASSERT_TRUE(setup.settle());
        save(view, "setup-connected", dark);
        QTest::mouseClick(view.flow()->disconnectButton()->askButton(), Qt::LeftButton);
        save(view, "setup-disconnect", dark);
    }
}

TEST_F(WindowScreenshots, SettingsWindow) {
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : original_);
        testing::SetupFixture setup;
        testing::UsageFixture usage(setup.main);
        const auto root = setup.home.path() / "projects";
        writeTranscripts(root, setup.main.now());
        usage.model.startHistory(std::make_shared<history::UsageHistoryStore>(
                                     root, 2'592'000, setup.home.path(), history::localCalendar(),
                                     1, setup.main.clock()),
                                 30);
        ASSERT_TRUE(setup.main.runUntil([&] { return usage.model.history().has_value(); }));
        usage.model.notifications()->setEnabled(false, state::NotificationKind::remaining50);
        // The model's clock ticks with the executor's, so the panes' relative times agree with
        // the times the fixture hands out.
        usage.model.start(std::make_shared<meterly::testing::ScriptedUsageSource>(setup.main));

        setup.writeBaseURL(config::PortSelector::baseURL(setup.port));
        setup.home.write(".claude/settings.json.meterly-backup", "{}");
        state::SettingsRoute route;
        state::ProxyDiagnostics found;
        found.baseURL = config::PortSelector::baseURL(setup.port);
        found.port = setup.port;
        found.agentLoaded = true;
        found.answering = true;
        found.settingsPath = setup.settingsPath().string();
        found.backupPath = setup.settingsPath().string() + ".meterly-backup";
        found.backupExists = true;
        found.agentPlistPath =
            (setup.home.path() / ".config/systemd/user/com.meterly.proxy.service").string();
        found.agentLabel = "com.meterly.proxy";
        found.environmentName = "production";
        SettingsView::Services services{
            std::make_shared<state::LoginItem>("/opt/Meterly.app/Contents/MacOS/meterly",
                                               setup.home.path(), testing::noVariables()),
            {},
            {},
            QStringLiteral("1.0.7"),
            [] { return std::optional<std::string>("1.0.7"); },
            {}};
        services.diagnostics.read = [&found](std::optional<core::Date> last,
                                             state::DiagnosticsRefresh::ReadDone done) {
            auto copy = found;
            copy.lastTraffic = last;
            done(copy);
        };
        services.diagnostics.restartAgent = [](std::function<void()> done) { done(); };
        services.diagnostics.repair = [](std::uint16_t, std::function<void()> done) { done(); };
        services.diagnostics.lastTraffic = [&] { return setup.main.now() - 95; };
        testing::HeldUpdates held(setup.main);
        services.updates.state = &held.updates;
        services.updates.offer = &held.offer;
        services.updates.texts = std::make_shared<state::TextFormatter>();
        services.updates.now = [&] { return setup.main.now(); };
        held.updates.checkNow();
        setup.main.advance(300);
        held.answers->answer("1.0.8");
        SettingsView view(usage.model, *setup.model, route, setup.main, setup.worker,
                          std::make_shared<state::TextFormatter>(), std::move(services));
        view.show();
        ASSERT_TRUE(setup.settle());
        save(view, "settings-proxy", dark);
        route.show(state::SettingsPane::general);
        ASSERT_TRUE(setup.settle());
        save(view, "settings-general", dark);
        route.show(state::SettingsPane::notifications);
        save(view, "settings-notifications", dark);
        // Not connected: the flow stands above the diagnostics.
        std::filesystem::remove(setup.settingsPath());
        found.baseURL.reset();
        found.port.reset();
        found.answering = false;
        found.backupExists = false;
        route.show(state::SettingsPane::proxy);
        setup.model->refresh();
        ASSERT_TRUE(setup.settle());
        save(view, "settings-proxy-not-connected", dark);
        usage.model.stop();
    }
}

} // namespace
} // namespace meterly::ui
