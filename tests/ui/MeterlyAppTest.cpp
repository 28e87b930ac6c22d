#include "ui/scene/MeterlyApp.hpp"

#include "FakeDesktop.hpp"
#include "ModelFakes.hpp"
#include "state/BlockingWorker.hpp"
#include "support/MemoryPreferences.hpp"
#include "state/NotificationPreferences.hpp"
#include "support/VirtualTimeExecutor.hpp"
#include "support/TempDir.hpp"
#include "ui/popover/NoticeView.hpp"
#include "ui/popover/PopoverView.hpp"
#include "ui/popover/PopoverWindow.hpp"
#include "ui/popover/WindowRow.hpp"
#include "ui/scene/WindowRegistry.hpp"
#include "ui/tray/TrayHostWatch.hpp"
#include "ui/tray/TrayLabel.hpp"
#include "ui/update/UpdateBanner.hpp"
#include "ui/update/UpdateOffer.hpp"
#include "ui/widgets/TextButton.hpp"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>
#include <map>

namespace meterly::ui {
namespace {

// An update offer whose road the test decides: each updateNow() ends installed or not.
class FakeOffer final : public UpdateOffer {
public:
    std::optional<UpdateBannerContent> banner() const override {
        UpdateBannerContent content;
        content.title = "Version 1.1.0 is available";
        content.stage =
            failed ? UpdateBannerContent::Stage::failed : UpdateBannerContent::Stage::idle;
        content.failure = failed ? "The download didn't match its checksum." : "";
        return content;
    }
    std::optional<std::string> currentVersion() const override { return "1.0.7"; }
    std::optional<std::string> notesURL() const override { return std::nullopt; }
    std::optional<std::string> downloadURL() const override { return std::nullopt; }
    state::ChangeSignal& changed() override { return changed_; }
    void updateNow(std::function<void(bool)> done) override {
        ++updates;
        failed = !installs;
        changed_.emit();
        done(installs);
    }
    bool installs = false;
    bool failed = false;
    int updates = 0;

private:
    state::ChangeSignal changed_;
};

class MeterlyAppTest : public ::testing::Test {
protected:
    MeterlyAppTest() {
        windows_.add(WindowRegistry::setupID, "Set up Meterly", [] { return nullptr; });
        windows_.add(WindowRegistry::settingsID, "Settings", [] { return nullptr; });
    }

    void makeApp(std::optional<std::uint16_t> explicitPort, UpdateOffer* updates = nullptr) {
        MeterlyApp::Services services;
        services.explicitPort = explicitPort;
        services.configuredPort = [this] { return configuredPort_; };
        services.defaultPort = [] { return std::uint16_t{8787}; };
        services.recordReachedMenuBar = [this] { ++reachedMenuBar_; };
        services.makeSource = [this](std::uint16_t port) {
            polled_.push_back(port);
            auto source = std::make_shared<ScriptedSource>(main_);
            sources_[port] = source;
            return source;
        };
        services.quit = [this] { ++quits_; };
        services.relaunchAfterUpdate = [this] { relaunches_.fetch_add(1); };
        services.isDirectory = [](const std::string&) { return false; };
        app_ = std::make_unique<MeterlyApp>(MeterlyApp::Models{usage_, setup_, updates},
                                            std::move(services), windows_, desktop_, worker_,
                                            trayHosts_);
    }

    void writeSettings(const std::string& json) { home_.write(".claude/settings.json", json); }
    void connectTo(std::uint16_t port) {
        writeSettings(R"({"env": {"ANTHROPIC_BASE_URL": "http://127.0.0.1:)" +
                      std::to_string(port) + R"("}})");
    }
    bool setupWindowShown() const {
        QWidget* window = windows_.window(WindowRegistry::setupID);
        return window != nullptr && window->isVisible();
    }

    testing::TempDir home_{"meterly-scene"};
    state::VirtualTimeExecutor main_;
    state::MemoryPreferences defaults_;
    state::UsageViewModel usage_{main_, defaults_,
                                 std::make_shared<state::NotificationPreferences>(defaults_),
                                 std::make_shared<QuietNotifier>(), nullptr};
    state::BlockingWorker worker_{main_};
    state::SetupModel setup_{
        worker_, config::ClaudeSettingsFile(home_.path() / ".claude/settings.json"),
        [](std::uint16_t) { return std::optional<config::ProxyInstaller>(); }, true};
    WindowRegistry windows_;
    // No session bus and no X display: no tray host.
    TrayHostWatch trayHosts_{QDBusConnection(QStringLiteral("none")), std::nullopt};
    FakeDesktop desktop_;
    std::optional<std::uint16_t> configuredPort_;
    std::vector<std::uint16_t> polled_;
    std::map<std::uint16_t, std::shared_ptr<ScriptedSource>> sources_;
    int reachedMenuBar_ = 0;
    int quits_ = 0;
    std::atomic<int> relaunches_{0};
    std::unique_ptr<MeterlyApp> app_;
};

TEST_F(MeterlyAppTest, StartUpTaskPollsTheExplicitPortAndOpensSetupWithoutABaseURL) {
    writeSettings(R"({"env": {}})");
    configuredPort_ = 9100;
    makeApp(9999);
    app_->runStartUpTask();
    EXPECT_EQ(polled_, std::vector<std::uint16_t>{9999});
    EXPECT_EQ(reachedMenuBar_, 1);
    EXPECT_TRUE(setupWindowShown());
    EXPECT_EQ(windows_.window(WindowRegistry::setupID)->windowTitle(), "Set up Meterly");
}

TEST_F(MeterlyAppTest, PortOrderAndNoSetupWindowWhenConnected) {
    connectTo(9100);
    configuredPort_ = 9100;
    makeApp(std::nullopt);
    app_->runStartUpTask();
    EXPECT_EQ(polled_, std::vector<std::uint16_t>{9100});
    EXPECT_FALSE(setupWindowShown());

    configuredPort_.reset();
    app_->runStartUpTask(); // the item came on screen again
    EXPECT_EQ(polled_, (std::vector<std::uint16_t>{9100, 8787}));
    EXPECT_EQ(reachedMenuBar_, 2);
}

TEST_F(MeterlyAppTest, FollowsTheConfiguredPortUnlessOneWasGiven) {
    writeSettings(R"({"env": {}})");
    makeApp(std::nullopt);
    app_->runStartUpTask();
    ASSERT_EQ(polled_, std::vector<std::uint16_t>{8787});
    // Setup installed the proxy on another port (8787 was busy).
    connectTo(8788);
    setup_.refresh();
    EXPECT_EQ(polled_, (std::vector<std::uint16_t>{8787, 8788}));
    EXPECT_EQ(app_->polledPort(), 8788);
    setup_.refresh();
    EXPECT_EQ(polled_.size(), 2u); // the same port is not restarted
}

TEST_F(MeterlyAppTest, AnExplicitPortStaysWhateverSetupDoes) {
    writeSettings(R"({"env": {}})");
    makeApp(9999);
    app_->runStartUpTask();
    connectTo(8788);
    setup_.refresh();
    EXPECT_EQ(polled_, std::vector<std::uint16_t>{9999});
}

TEST_F(MeterlyAppTest, GaugeFollowsTheReadingAndRedrawsOnlyOnChange) {
    connectTo(9100);
    configuredPort_ = 9100;
    makeApp(std::nullopt);
    EXPECT_TRUE(app_->tray().gauge().isPlaceholder());
    app_->runStartUpTask();
    const int drawn = app_->tray().drawCount();
    sources_[9100]->send(
        core::UsageSourceEvent::status(snapshot(0.2, main_.now()), 1, std::nullopt));
    ASSERT_TRUE(main_.runUntil([&] { return usage_.snapshot().has_value(); }));
    EXPECT_EQ(app_->tray().gauge(), (TrayGauge{0.8, false}));
    EXPECT_EQ(app_->tray().drawCount(), drawn + 1);
    main_.advance(5); // five ticks: the clock moves, the gauge does not
    EXPECT_EQ(app_->tray().drawCount(), drawn + 1);
    main_.advance(600); // the reading is ten minutes old
    EXPECT_TRUE(app_->tray().gauge().isPlaceholder());
}

TEST_F(MeterlyAppTest, PopoverFollowsTheModelsWhileShown) {
    connectTo(9100);
    configuredPort_ = 9100;
    makeApp(std::nullopt);
    app_->runStartUpTask();
    app_->popover().showAt(QRect(1200, 0, 24, 24));
    auto& view = app_->popoverView();
    EXPECT_FALSE(view.waiting()->isHidden());
    sources_[9100]->send(
        core::UsageSourceEvent::status(snapshot(0.2, main_.now()), 1, std::nullopt));
    ASSERT_TRUE(main_.runUntil([&] { return usage_.snapshot().has_value(); }));
    WindowRow* row = view.fiveHourRow();
    EXPECT_FALSE(row->isHidden());
    EXPECT_EQ(row->content().percentText, "80%");
    const QString before = row->content().resetsIn;
    main_.advance(1);
    EXPECT_NE(row->content().resetsIn, before); // the countdown moves with the tick
    EXPECT_EQ(view.fiveHourRow(), row);         // the same row, updated

    // Setup no longer connected: the "Not connected" row, whatever the snapshot says.
    writeSettings(R"({"env": {}})");
    setup_.refresh();
    EXPECT_FALSE(view.notConnected()->isHidden());
    EXPECT_TRUE(row->isHidden());
    app_->popover().hide();
}

TEST_F(MeterlyAppTest, ThePopoverIsPlacedForTheContentOfEachOpening) {
    connectTo(9100);
    configuredPort_ = 9100;
    FakeOffer offer;
    makeApp(std::nullopt, &offer);
    app_->runStartUpTask();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    // An icon on a bottom panel.
    const QRect icon(screen.right() - 40, screen.bottom() - 23, 24, 24);
    const auto openedWhole = [&] {
        const QRect popup = app_->popover().geometry();
        return screen.contains(popup) && popup.bottom() == icon.top() - 1 - PopoverWindow::gap;
    };
    // Placed once, for this opening's content: nothing moves once it is on screen.
    QRect placed;
    const auto open = [&] {
        app_->popover().showAt(icon);
        placed = app_->popover().geometry();
        QApplication::processEvents();
        EXPECT_EQ(app_->popover().geometry(), placed);
    };
    // The first opening after start: the update banner and the waiting notice were never shown.
    open();
    EXPECT_FALSE(app_->popoverView().banner()->isHidden());
    EXPECT_TRUE(openedWhole()) << app_->popover().geometry().y();
    const int first = app_->popover().height();
    app_->popover().hide();

    // The first reading arrives while the popover is closed: two window rows, a taller popover.
    sources_[9100]->send(
        core::UsageSourceEvent::status(snapshot(0.2, main_.now()), 1, std::nullopt));
    ASSERT_TRUE(main_.runUntil([&] { return usage_.snapshot().has_value(); }));
    open();
    EXPECT_GT(app_->popover().height(), first);
    EXPECT_TRUE(openedWhole()) << app_->popover().geometry().y();
    app_->popover().hide();
}

TEST_F(MeterlyAppTest, WithoutATrayTheLaunchStillCountsAndSettingsSaysSo) {
    ASSERT_EQ(trayHosts_.available(), false);
    connectTo(9100);
    configuredPort_ = 9100;
    makeApp(std::nullopt);
    app_->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return reachedMenuBar_ == 1; }, 5000));
    QWidget* settings = windows_.window(WindowRegistry::settingsID);
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->isVisible());
    bool noticeShown = false;
    for (auto* label : settings->findChildren<QLabel*>()) {
        noticeShown =
            noticeShown || (label->isVisible() && label->text().contains("no system tray"));
    }
    EXPECT_TRUE(noticeShown);
}

TEST_F(MeterlyAppTest, TryAgainTakesTheRoadOfUpdateThroughToTheRelaunch) {
    connectTo(9100);
    configuredPort_ = 9100;
    FakeOffer offer;
    makeApp(std::nullopt, &offer);
    app_->runStartUpTask();
    app_->popover().showAt(QRect(1200, 0, 24, 24));
    auto* banner = app_->popoverView().banner();
    ASSERT_FALSE(banner->isHidden());
    EXPECT_EQ(banner->content().title, "Version 1.1.0 is available");
    EXPECT_EQ(app_->popoverView().versionFooter()->text(), "v1.0.7");

    // The first attempt fails: the banner shows why, and nothing relaunches.
    banner->updateButton()->click();
    EXPECT_EQ(offer.updates, 1);
    EXPECT_EQ(banner->content().stage, UpdateBannerContent::Stage::failed);
    EXPECT_FALSE(banner->failedArea()->isHidden());
    main_.runReady();
    EXPECT_EQ(relaunches_.load(), 0);

    // "Try again" downloads and installs, then relaunches, like "Update".
    offer.installs = true;
    banner->tryAgainButton()->click();
    EXPECT_EQ(offer.updates, 2);
    ASSERT_TRUE(main_.runUntil([&] { return relaunches_.load() == 1; }));
    app_->popover().hide();
}

} // namespace
} // namespace meterly::ui
