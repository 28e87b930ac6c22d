#include "ui/scene/MeterlyApp.hpp"

#include "state/BlockingWorker.hpp"
#include "ui/platform/DesktopActions.hpp"
#include "ui/popover/PopoverModelPresenter.hpp"
#include "ui/popover/PopoverPresenter.hpp"
#include "ui/popover/PopoverView.hpp"
#include "ui/popover/PopoverWindow.hpp"
#include "ui/scene/WindowRegistry.hpp"
#include "ui/tray/TrayGauge.hpp"
#include "ui/tray/TrayLabel.hpp"
#include "ui/update/UpdateOffer.hpp"

#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWindow>

namespace meterly::ui {

MeterlyApp::MeterlyApp(Models models, Services services, WindowRegistry& windows, Desktop& desktop,
                       state::BlockingWorker& worker, TrayHostWatch& trayHosts, QObject* parent)
    : QObject(parent), models_(models), services_(std::move(services)), windows_(windows),
      desktop_(desktop), worker_(worker), tray_(new TrayLabel(trayHosts, this)) {
    PopoverActions actions;
    actions.quit = [this] {
        if (services_.quit) {
            services_.quit();
        }
    };
    actions.openSetup = [this] { openWindow(WindowRegistry::setupID); };
    actions.openSettings = [this] { openWindow(WindowRegistry::settingsID); };
    actions.hideRunwayWarning = [this](PopoverActions::Window window) {
        if (window == PopoverActions::Window::fiveHour) {
            models_.usage.setShowsFiveHourRunwayWarning(false);
        } else {
            models_.usage.setShowsSevenDayRunwayWarning(false);
        }
    };
    actions.openClaude = [this](std::function<void(bool)> done) {
        desktop_.openClaude(std::move(done));
    };
    actions.revealFolder = [this](const QString& path) { desktop_.revealFolder(path); };
    actions.banner = bannerActions();
    popover_ = new PopoverWindow(new PopoverView(std::move(actions)));
    // Each opening shows fresh content, set before the popup is sized and placed for it.
    popover_->onOpening = [this] {
        historyMadeFor_.reset();
        models_.setup.refresh();
        fillPopover();
    };

    tray_->onActivated = [this](std::optional<QRect> icon) { popover_->toggle(icon); };
    tray_->onTrayAvailabilityChanged = [this](bool available) {
        trayAvailabilityChanged(available);
    };

    usageChanged_ = models_.usage.changed().connect([this] {
        refreshGauge();
        refreshPopover();
    });
    setupChanged_ = models_.setup.changed().connect([this] {
        followConfiguredPort();
        refreshPopover();
    });
    if (models_.updates != nullptr) {
        updatesChanged_ = models_.updates->changed().connect([this] { refreshPopover(); });
    }
    // Any of the app's windows becoming the active one re-reads the settings.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
        if (window != nullptr) {
            models_.setup.refresh();
        }
    });
    refreshGauge();
}

UpdateBanner::Actions MeterlyApp::bannerActions() {
    UpdateBanner::Actions actions;
    // "Try again" takes the same road as "Update": download, install, relaunch. (Downloading
    // alone would leave a ready image that nothing installs.)
    actions.update = [this] { updateThenRelaunch(); };
    actions.tryAgain = [this] { updateThenRelaunch(); };
    actions.openNotes = [this] {
        if (models_.updates != nullptr) {
            if (auto url = models_.updates->notesURL()) {
                DesktopActions::openWebPage(QString::fromStdString(*url));
            }
        }
    };
    actions.downloadInBrowser = [this] {
        if (models_.updates != nullptr) {
            if (auto url = models_.updates->downloadURL()) {
                DesktopActions::openWebPage(QString::fromStdString(*url));
            }
        }
    };
    return actions;
}

MeterlyApp::~MeterlyApp() {
    usageChanged_.reset();
    setupChanged_.reset();
    updatesChanged_.reset();
    delete popover_;
}

PopoverView& MeterlyApp::popoverView() const {
    return *popover_->view();
}

void MeterlyApp::start() {
    tray_->show();
    // The tray is counted as reached once the event loop runs, whether or not a tray host shows
    // the icon: a desktop without one must not look like a launch that got nowhere.
    QTimer::singleShot(0, this, [this] {
        if (!startedUp_) {
            runStartUpTask();
        }
    });
}

void MeterlyApp::runStartUpTask() {
    startedUp_ = true;
    std::uint16_t port = 0;
    if (services_.explicitPort) {
        port = *services_.explicitPort;
    } else if (auto configured =
                   services_.configuredPort ? services_.configuredPort() : std::nullopt) {
        port = *configured;
    } else {
        port = services_.defaultPort();
    }
    if (services_.recordReachedMenuBar) {
        services_.recordReachedMenuBar();
    }
    startPolling(port);
    if (services_.makeHistoryStore) {
        models_.usage.startHistory(services_.makeHistoryStore(), historyInterval);
    }
    presentSetupIfNeeded();
}

void MeterlyApp::startPolling(std::uint16_t port) {
    polledPort_ = port;
    models_.usage.start(services_.makeSource(port));
}

void MeterlyApp::followConfiguredPort() {
    // Setup may have installed the proxy on another port than the one polled (the default was
    // busy): follow it, unless the port was given explicitly.
    const auto& state = models_.setup.state();
    if (!startedUp_ || services_.explicitPort ||
        state.kind != state::SetupModel::State::Kind::configured || state.port == 0 ||
        state.port == polledPort_) {
        return;
    }
    startPolling(state.port);
}

void MeterlyApp::presentSetupIfNeeded() {
    models_.setup.refresh();
    if (models_.setup.state().kind == state::SetupModel::State::Kind::notConfigured) {
        openWindow(WindowRegistry::setupID);
    }
}

void MeterlyApp::openWindow(const std::string& id) {
    popover_->hide();
    std::optional<QString> notice;
    if (id == WindowRegistry::settingsID && !tray_->trayAvailable()) {
        notice = QString::fromUtf8(noTrayNotice);
    }
    windows_.open(id, notice);
}

void MeterlyApp::trayAvailabilityChanged(bool available) {
    if (!available) {
        // Nowhere to click: say so in the settings window, which also reaches everything else.
        windows_.open(WindowRegistry::settingsID, QString::fromUtf8(noTrayNotice));
        return;
    }
    if (QWidget* settings = windows_.window(WindowRegistry::settingsID)) {
        // The notice no longer holds.
        if (settings->isVisible()) {
            windows_.open(WindowRegistry::settingsID);
        }
    }
    // The item came on screen (again): the start-up task runs again.
    if (startedUp_) {
        runStartUpTask();
    }
}

void MeterlyApp::refreshGauge() {
    tray_->setGauge(TrayGauge::present(models_.usage.menuBarWindow(), models_.usage.isIdle()));
}

void MeterlyApp::refreshPopover() {
    if (popover_->isVisible()) {
        fillPopover();
    }
}

void MeterlyApp::fillPopover() {
    std::optional<UpdateBannerContent> banner;
    std::optional<std::string> currentVersion;
    if (models_.updates != nullptr) {
        banner = models_.updates->banner();
        currentVersion = models_.updates->currentVersion();
    }
    popover_->view()->setContent(PopoverModelPresenter::present(
        models_.usage, models_.setup.state(), std::move(banner), currentVersion, historyContent()));
}

const std::optional<HistoryContent>& MeterlyApp::historyContent() {
    const auto& report = models_.usage.history();
    if (!report) {
        historyMadeFor_.reset();
        historyContent_.reset();
        return historyContent_;
    }
    if (historyMadeFor_ != report->generatedAt) {
        static const PopoverPresenter::IsDirectory noFolders = [](const std::string&) {
            return false;
        };
        historyMadeFor_ = report->generatedAt;
        historyContent_ =
            PopoverPresenter::history(*report, &state::UsageViewModel::compactTokens,
                                      services_.isDirectory ? services_.isDirectory : noFolders);
    }
    return historyContent_;
}

void MeterlyApp::updateThenRelaunch() {
    if (models_.updates == nullptr || relaunching_) {
        return;
    }
    QPointer<MeterlyApp> self(this);
    models_.updates->updateNow([self](bool installed) {
        if (self == nullptr || !installed || self->relaunching_) {
            return;
        }
        self->relaunching_ = true;
        // Restarting the proxy agent runs a child process: off the main thread.
        self->worker_.run(
            [relaunch = self->services_.relaunchAfterUpdate] {
                if (relaunch) {
                    relaunch();
                }
            },
            [](state::Outcome<bool>) {});
    });
}

} // namespace meterly::ui
