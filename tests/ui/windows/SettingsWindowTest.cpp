#include "WindowsTestSupport.hpp"
#include "state/LoginItem.hpp"
#include "state/SettingsRoute.hpp"
#include "support/FakeAutostart.hpp"
#include "support/ScriptedUsageSource.hpp"
#include "ui/charts/RequestsChart.hpp"
#include "ui/settings/GeneralPane.hpp"
#include "ui/settings/LaunchAtLoginRow.hpp"
#include "ui/settings/NotificationsPane.hpp"
#include "ui/settings/ProxyPane.hpp"
#include "ui/settings/SettingToggle.hpp"
#include "ui/settings/SettingsView.hpp"
#include "ui/settings/ToggleSwitch.hpp"
#include "ui/setup/DisconnectButton.hpp"
#include "ui/setup/SetupFlowView.hpp"
#include "ui/update/UpdateStateOffer.hpp"
#include "ui/widgets/TextButton.hpp"
#include "update/UpdateState.hpp"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace meterly::ui {
namespace {

using Pane = state::SettingsPane;
using Kind = state::NotificationKind;

// A widget on screen; the pane has no widget for a row it does not show.
bool shown(const QWidget* widget) {
    return widget != nullptr && !widget->isHidden();
}

state::ProxyDiagnostics diagnosticsOf(const std::filesystem::path& home) {
    state::ProxyDiagnostics found;
    found.baseURL = "http://127.0.0.1:8787";
    found.port = 8787;
    found.agentLoaded = true;
    found.answering = true;
    found.settingsPath = (home / ".claude/settings.json").string();
    found.backupPath = (home / ".claude/settings.json.meterly-backup").string();
    found.agentPlistPath = (home / ".config/systemd/user/com.meterly.proxy.service").string();
    found.agentLabel = "com.meterly.proxy";
    found.environmentName = "production";
    return found;
}

// A settings window over the setup fixture, with diagnostics that the test hands out.
class SettingsWindowTest : public ::testing::Test {
protected:
    SettingsWindowTest() {
        setup.home.write("Apps/Meterly.app/Contents/MacOS/meterly", "#!/bin/sh\n");
        found = diagnosticsOf(setup.home.path());
    }

    std::unique_ptr<SettingsView> makeView() {
        SettingsView::Services services{
            std::make_shared<state::LoginItem>(
                setup.home.path() / "Apps/Meterly.app/Contents/MacOS/meterly", setup.home.path(),
                [this](std::string_view name) -> std::optional<std::string> {
                    if (name == "XDG_CONFIG_HOME") {
                        return (setup.home.path() / "xdg").string();
                    }
                    return std::nullopt;
                }),
            {},
            [this](const QString& path) { revealed.push_back(path.toStdString()); },
            QStringLiteral("1.0.7"),
            [] { return std::optional<std::string>("1.0.7"); },
            {}};
        services.diagnostics.read = [this](std::optional<core::Date> last,
                                           state::DiagnosticsRefresh::ReadDone done) {
            ++reads;
            auto copy = found;
            copy.lastTraffic = last;
            if (holdReads) {
                held.push_back([copy, done] { done(copy); });
            } else {
                done(copy);
            }
        };
        services.diagnostics.restartAgent = [this](std::function<void()> done) {
            ++restarts;
            held.push_back(std::move(done));
        };
        services.diagnostics.repair = [this](std::uint16_t port, std::function<void()> done) {
            repairs.push_back(port);
            held.push_back(std::move(done));
        };
        return std::make_unique<SettingsView>(usage.model, *setup.model, route, setup.main,
                                              setup.worker, texts, std::move(services));
    }
    void releaseHeld() {
        auto waiting = std::move(held);
        held.clear();
        for (auto& done : waiting) {
            done();
        }
    }

    testing::SetupFixture setup;
    testing::UsageFixture usage{setup.main};
    state::SettingsRoute route;
    std::shared_ptr<const state::TextFormatter> texts = std::make_shared<state::TextFormatter>(
        [](std::string_view name) -> std::optional<std::string> {
            return name == "TZ" ? std::optional<std::string>("UTC") : std::nullopt;
        });
    state::ProxyDiagnostics found;
    int reads = 0;
    int restarts = 0;
    std::vector<std::uint16_t> repairs;
    bool holdReads = false;
    std::vector<std::function<void()>> held;
    std::vector<std::string> revealed;
};

TEST_F(SettingsWindowTest, TheSidebarAndTheRouteChooseThePane) {
    auto view = makeView();
    EXPECT_EQ(view->titleLabel()->text(), "Proxy");
    EXPECT_EQ(view->shownPane(), view->proxyPane());
    EXPECT_EQ(view->sidebar()->currentRow(), 1);

    view->sidebar()->setCurrentRow(2);
    EXPECT_EQ(route.pane(), Pane::notifications);
    EXPECT_EQ(view->titleLabel()->text(), "Notifications");
    EXPECT_EQ(view->shownPane(), view->notificationsPane());

    // The route is shared: a pane chosen elsewhere shows here, and no selection shows Proxy.
    route.setPane(std::nullopt);
    EXPECT_EQ(view->titleLabel()->text(), "Proxy");
    EXPECT_EQ(view->shownPane(), view->proxyPane());
    EXPECT_EQ(view->sidebar()->currentItem(), nullptr);
    route.show(Pane::general);
    EXPECT_EQ(view->shownPane(), view->generalPane());
    EXPECT_EQ(view->sidebar()->currentRow(), 0);

    // A window made later starts on the pane chosen last.
    auto again = makeView();
    EXPECT_EQ(again->titleLabel()->text(), "General");
}

TEST_F(SettingsWindowTest, OpeningReadsTheSetupThenTheDiagnosticsAndSetupChangesReadAgain) {
    setup.writeBaseURL("http://127.0.0.1:8787");
    auto view = makeView();
    EXPECT_EQ(reads, 0);
    view->show();
    EXPECT_EQ(setup.model->state(), state::SetupModel::State::configured(8787));
    EXPECT_EQ(reads, 1);
    std::filesystem::remove(setup.settingsPath());
    setup.model->refresh();
    EXPECT_EQ(reads, 2);
    setup.model->refresh(); // the same state: no read
    EXPECT_EQ(reads, 2);
    setup.settle();
}

TEST_F(SettingsWindowTest, NotificationSwitchesAreStoredAndReplanned) {
    auto view = makeView();
    auto* pane = view->notificationsPane();
    for (auto kind : state::allNotificationKinds) {
        EXPECT_TRUE(pane->toggle(kind)->isOn());
    }
    EXPECT_EQ(pane->toggle(Kind::fiveHourReset)->captionLabel()->text(), "Happy building");
    EXPECT_EQ(pane->toggle(Kind::weekReset)->captionLabel()->text(), "Happy building");

    pane->toggle(Kind::weekReset)->toggle()->click();
    EXPECT_FALSE(pane->toggle(Kind::weekReset)->isOn());
    EXPECT_EQ(
        state::preferenceAs<bool>(usage.defaults.object(state::preferenceKey(Kind::weekReset))),
        false);
    EXPECT_EQ(usage.notifier->replans, 1);

    pane->runwayToggle()->toggle()->click();
    EXPECT_FALSE(usage.model.showsFiveHourRunwayWarning());
    EXPECT_FALSE(usage.model.showsSevenDayRunwayWarning());
    // One window hidden from the popover still reads on; on again turns both on.
    usage.model.setShowsFiveHourRunwayWarning(true);
    EXPECT_TRUE(pane->runwayToggle()->isOn());
    pane->runwayToggle()->toggle()->click();
    pane->runwayToggle()->toggle()->click();
    EXPECT_TRUE(usage.model.showsSevenDayRunwayWarning());
}

TEST_F(SettingsWindowTest, LaunchAtLoginSwitchesTheAutostartEntryAndShowsTheStateReadBack) {
    auto view = makeView();
    route.show(Pane::general);
    view->show();
    ASSERT_TRUE(setup.settle());
    auto* row = view->generalPane()->launchAtLogin();
    const auto entry = setup.home.path() / "xdg/autostart/meterly.desktop";
    EXPECT_FALSE(row->toggle()->isOn());

    row->toggle()->toggle()->click();
    // The switch waits for the entry to be written; it cannot be flipped meanwhile.
    EXPECT_FALSE(row->toggle()->isOn());
    EXPECT_FALSE(row->toggle()->toggle()->isEnabled());
    ASSERT_TRUE(setup.settle());
    EXPECT_TRUE(std::filesystem::exists(entry));
    EXPECT_TRUE(row->toggle()->isOn());
    EXPECT_TRUE(row->toggle()->toggle()->isEnabled());

    row->toggle()->toggle()->click();
    ASSERT_TRUE(setup.settle());
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_FALSE(row->toggle()->isOn());

    // Written behind the app's back: the next re-read shows it.
    state::LoginItem(setup.home.path() / "Apps/Meterly.app/Contents/MacOS/meterly",
                     setup.home.path(),
                     [this](std::string_view name) {
                         return name == "XDG_CONFIG_HOME"
                                    ? std::optional((setup.home.path() / "xdg").string())
                                    : std::nullopt;
                     })
        .setEnabled(true);
    row->reread();
    ASSERT_TRUE(setup.settle());
    EXPECT_TRUE(row->toggle()->isOn());
    EXPECT_EQ(view->generalPane()->versionLabel()->text(), "1.0.7");
}

TEST_F(SettingsWindowTest, ProxyPaneShowsTheDiagnosticsAndCopiesThem) {
    setup.writeBaseURL("http://127.0.0.1:8787");
    holdReads = true;
    auto view = makeView();
    view->show();
    auto* pane = view->proxyPane();
    // Before the first read: a spinner.
    EXPECT_TRUE(shown(pane->spinner()));
    EXPECT_FALSE(shown(pane->diagnosticsBlock()));
    releaseHeld();
    EXPECT_FALSE(shown(pane->spinner()));
    EXPECT_EQ(pane->verdictLabel()->text(), "Claude Code is going through Meterly.");
    EXPECT_EQ(pane->rowValue("Address"), "http://127.0.0.1:8787");
    EXPECT_EQ(pane->rowValue("Last request"), "none since the proxy started");
    EXPECT_FALSE(shown(pane->rowLabel("Backup")));
    EXPECT_FALSE(shown(pane->rowLabel("Environment")));
    EXPECT_FALSE(shown(pane->chart()));
    EXPECT_FALSE(shown(pane->repairButton()));
    EXPECT_TRUE(shown(pane->disconnectButton()));
    EXPECT_FALSE(shown(pane->flow()));

    // Re-check is disabled while a read runs.
    pane->recheckButton()->click();
    EXPECT_FALSE(pane->recheckButton()->isEnabled());
    releaseHeld();
    EXPECT_TRUE(pane->recheckButton()->isEnabled());

    pane->copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), found.supportSummary("1.0.7"));
    EXPECT_EQ(pane->copyButton()->text(), "Copied");
    setup.main.advance(1.9);
    EXPECT_EQ(pane->copyButton()->text(), "Copied");
    setup.main.advance(0.2);
    EXPECT_EQ(pane->copyButton()->text(), "Copy diagnostics");

    // Copying a path turns that row's button; a second path moves "Copied" there.
    pane->copyPathButton("Settings file")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), found.settingsPath);
    EXPECT_EQ(pane->copyPathButton("Settings file")->title(), "Copied");
    setup.main.advance(1);
    pane->copyPathButton("Service unit")->click();
    EXPECT_EQ(pane->copyPathButton("Settings file")->title(), "Copy");
    setup.main.advance(1.5);
    EXPECT_EQ(pane->copyPathButton("Service unit")->title(), "Copied");
    setup.main.advance(1);
    EXPECT_EQ(pane->copyPathButton("Service unit")->title(), "Copy");

    pane->showPathButton("Service unit")->click();
    EXPECT_EQ(revealed, std::vector<std::string>{found.agentPlistPath});
    setup.settle();
}

TEST_F(SettingsWindowTest, TheProxyPaneRestsWhileClosedAndKeepsOneCopiedTimerPerRow) {
    setup.writeBaseURL("http://127.0.0.1:8787");
    usage.model.start(std::make_shared<meterly::testing::ScriptedUsageSource>(setup.main));
    auto view = makeView();
    view->show();
    auto* pane = view->proxyPane();
    // Copied again and again: each row keeps one timer, which ends two seconds after its last
    // press.
    for (int i = 0; i < 5; ++i) {
        pane->copyPathButton("Settings file")->click();
        setup.main.advance(0.5);
    }
    pane->copyPathButton("Service unit")->click();
    EXPECT_EQ(pane->pendingCopiedTimers(), 2u);
    setup.main.advance(2.1);
    EXPECT_EQ(pane->pendingCopiedTimers(), 0u);
    EXPECT_EQ(pane->copyPathButton("Service unit")->title(), "Copy");

    // Open, the pane follows the clock; closed, it rests, and catches up when it opens again.
    int rebuilt = pane->rebuildCount();
    setup.main.advance(3);
    EXPECT_GE(pane->rebuildCount(), rebuilt + 3);
    view->hide();
    rebuilt = pane->rebuildCount();
    setup.main.advance(30);
    EXPECT_EQ(pane->rebuildCount(), rebuilt);
    view->show();
    EXPECT_GT(pane->rebuildCount(), rebuilt);
    usage.model.stop();
    setup.settle();
}

TEST_F(SettingsWindowTest, TheDetailsFollowTheRowsThatComeAndGo) {
    setup.writeBaseURL("http://127.0.0.1:8787");
    found.environmentName = "development";
    found.backupExists = true;
    auto view = makeView();
    view->show();
    auto* pane = view->proxyPane();
    ASSERT_TRUE(shown(pane->rowLabel("Environment")));
    EXPECT_EQ(pane->rowValue("Environment"), "development");
    EXPECT_LT(pane->rowLabel("Environment")->y(), pane->rowLabel("Settings file")->y());
    EXPECT_LT(pane->rowLabel("Settings file")->y(), pane->rowLabel("Backup")->y());
    EXPECT_LT(pane->rowLabel("Backup")->y(), pane->rowLabel("Service unit")->y());
    pane->copyPathButton("Backup")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), found.backupPath);

    // Production, no backup: the rows after the gone ones move up and keep their own paths.
    found.environmentName = "production";
    found.backupExists = false;
    pane->recheckButton()->click();
    ASSERT_TRUE(setup.settle());
    EXPECT_FALSE(shown(pane->rowLabel("Environment")));
    EXPECT_FALSE(shown(pane->rowLabel("Backup")));
    EXPECT_EQ(pane->rowValue("Last request"), "none since the proxy started");
    pane->copyPathButton("Settings file")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), found.settingsPath);
    pane->showPathButton("Service unit")->click();
    EXPECT_EQ(revealed, std::vector<std::string>{found.agentPlistPath});
    EXPECT_EQ(pane->copyPathButton("Service unit")->title(), "Copy");
    setup.settle();
}

TEST_F(SettingsWindowTest, RestartAndRepairRunWithTheirButtonDisabledAndReadAgainAfter) {
    setup.writeBaseURL("http://127.0.0.1:8787");
    found.installedExecutablePath = "/gone/meterly";
    found.installedExecutableExists = false;
    auto view = makeView();
    view->show();
    auto* pane = view->proxyPane();
    ASSERT_TRUE(shown(pane->repairButton()));
    EXPECT_EQ(pane->verdictLabel()->text(),
              "The proxy's program has been moved or deleted. Meterly can repair this.");
    const int before = reads;

    pane->restartButton()->click();
    EXPECT_EQ(restarts, 1);
    EXPECT_FALSE(pane->restartButton()->isEnabled());
    EXPECT_EQ(reads, before);
    releaseHeld();
    EXPECT_TRUE(pane->restartButton()->isEnabled());
    EXPECT_EQ(reads, before + 1);

    pane->repairButton()->click();
    EXPECT_EQ(repairs, std::vector<std::uint16_t>{8787});
    EXPECT_FALSE(pane->repairButton()->isEnabled());
    EXPECT_EQ(reads, before + 1);
    found.installedExecutableExists = true;
    releaseHeld();
    EXPECT_EQ(reads, before + 2);
    EXPECT_FALSE(shown(pane->repairButton()));

    // An agent that is not loaded cannot be restarted.
    found.agentLoaded = false;
    pane->recheckButton()->click();
    EXPECT_FALSE(pane->restartButton()->isEnabled());
    setup.settle();
}

TEST_F(SettingsWindowTest, TheProxyPaneEmbedsTheFlowWhileNotConnected) {
    found.baseURL.reset();
    found.port.reset();
    auto view = makeView();
    view->show();
    auto* pane = view->proxyPane();
    EXPECT_TRUE(shown(pane->flow()));
    EXPECT_FALSE(shown(pane->flow()->button(SetupFlowContent::Action::dismiss)));
    EXPECT_TRUE(shown(pane->flow()->button(SetupFlowContent::Action::setUp)));
    EXPECT_FALSE(shown(pane->disconnectButton()));
    EXPECT_EQ(pane->rowValue("Address"), "not set");

    // Connected with the restart note: "OK" above the verdict takes it away.
    pane->flow()->button(SetupFlowContent::Action::setUp)->click();
    ASSERT_TRUE(setup.settle());
    ASSERT_TRUE(setup.model->isConfigured());
    EXPECT_TRUE(shown(pane->restartNote()));
    EXPECT_FALSE(shown(pane->flow()));
    pane->restartNoteOK()->click();
    EXPECT_FALSE(shown(pane->restartNote()));
}

TEST_F(SettingsWindowTest, TheUpdateCheckSaysWhatItFound) {
    testing::HeldUpdates feed(setup.main);
    auto* answers = feed.answers;
    GeneralPane::Updates wiring;
    wiring.state = &feed.updates;
    wiring.offer = &feed.offer;
    wiring.texts = texts;
    wiring.now = [this] { return setup.main.now(); };
    GeneralPane pane(std::make_shared<meterly::testing::FakeAutostart>(), setup.worker,
                     QStringLiteral("1.0.7"), std::move(wiring));
    EXPECT_EQ(pane.checkSummary()->text(), "Not checked yet");
    EXPECT_FALSE(shown(pane.banner()));

    pane.checkButton()->click();
    EXPECT_FALSE(pane.checkButton()->isEnabled());
    EXPECT_TRUE(shown(pane.checkSpinner()));
    EXPECT_EQ(pane.checkSummary()->text(), "Checking…");
    setup.main.advance(120);
    answers->fail();
    EXPECT_TRUE(pane.checkButton()->isEnabled());
    EXPECT_FALSE(shown(pane.checkSpinner()));
    EXPECT_EQ(pane.checkSummary()->text(), "Check failed — tried 2 minutes ago");

    pane.checkButton()->click();
    answers->answer("1.0.7");
    setup.main.advance(60);
    pane.refresh();
    EXPECT_EQ(pane.checkSummary()->text(), "Up to date — checked 1 minute ago");

    pane.checkButton()->click();
    answers->answer("1.1.0");
    EXPECT_EQ(pane.checkSummary()->text(), "1.1.0 is available");
    EXPECT_TRUE(shown(pane.banner()));
    setup.settle();
}

} // namespace
} // namespace meterly::ui
