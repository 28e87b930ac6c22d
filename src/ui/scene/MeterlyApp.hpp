#pragma once

#include "history/UsageHistoryStore.hpp"
#include "state/ChangeSignal.hpp"
#include "state/SetupModel.hpp"
#include "state/UsageFeed.hpp"
#include "state/UsageViewModel.hpp"
#include "ui/popover/PopoverContent.hpp"
#include "ui/update/UpdateBanner.hpp"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace meterly::state {
class BlockingWorker;
}

namespace meterly::ui {

class Desktop;
class PopoverView;
class PopoverWindow;
class TrayHostWatch;
class TrayLabel;
class UpdateOffer;
class WindowRegistry;

// The tray application's scene: the ring gauge in the tray with its popover, and the app's
// windows by identifier. It shares the models with every view, runs the start-up task when the
// tray item comes on screen (and once the event loop runs, tray or not), and keeps the popover
// and the gauge following the models.
class MeterlyApp : public QObject {
    Q_OBJECT
public:
    static constexpr core::Seconds historyInterval = 30;
    static constexpr const char* noTrayNotice =
        "This desktop shows no system tray, so Meterly's ring gauge has nowhere to appear. "
        "Meterly keeps running and puts the gauge in the tray as soon as one starts (a panel "
        "with a system tray or a StatusNotifierItem host).";

    struct Models {
        state::UsageViewModel& usage;
        state::SetupModel& setup;
        // None when the app cannot update itself.
        UpdateOffer* updates = nullptr;
    };

    struct Services {
        // The port after "--port", else METERLY_PORT; none lets Claude Code's settings lead.
        std::optional<std::uint16_t> explicitPort;
        // The port of the base URL in Claude Code's settings, read afresh on each call.
        std::function<std::optional<std::uint16_t>()> configuredPort;
        // The installation's default port, read afresh.
        std::function<std::uint16_t()> defaultPort;
        // The launch counter back to 0: this launch reached the tray.
        std::function<void()> recordReachedMenuBar;
        // The status poller of the proxy on a port.
        std::function<std::shared_ptr<state::UsageFeed>(std::uint16_t port)> makeSource;
        // A transcript history store.
        std::function<std::shared_ptr<history::UsageHistoryStore>()> makeHistoryStore;
        // After an installed update: restarts the proxy agent, starts the new copy and quits.
        // Runs child processes, so it is called on the worker.
        std::function<void()> relaunchAfterUpdate;
        // Ends the app.
        std::function<void()> quit;
        // Whether a project folder exists (so that it can be revealed).
        std::function<bool(const std::string& path)> isDirectory;
    };

    // `trayHosts` tells when the desktop's tray hosts come and go.
    MeterlyApp(Models models, Services services, WindowRegistry& windows, Desktop& desktop,
               state::BlockingWorker& worker, TrayHostWatch& trayHosts, QObject* parent = nullptr);
    ~MeterlyApp() override;

    // Shows the tray item and schedules the start-up task for when the event loop runs.
    void start();

    // The start-up task: port, launch counter, polling, history, setup window when needed.
    void runStartUpTask();
    // Re-reads Claude Code's settings; opens the setup window when no base URL is set.
    void presentSetupIfNeeded();
    // The banner's "Update" (and "Try again"): downloads, installs, then relaunches.
    void updateThenRelaunch();
    // What the update banner's buttons do, in the popover and in the settings window.
    UpdateBanner::Actions bannerActions();
    // Opens a window by identifier and brings it to the front.
    void openWindow(const std::string& id);

    // The port the view model polls now (0 before the start-up task).
    std::uint16_t polledPort() const { return polledPort_; }
    TrayLabel& tray() const { return *tray_; }
    PopoverWindow& popover() const { return *popover_; }
    PopoverView& popoverView() const;

private:
    void startPolling(std::uint16_t port);
    void followConfiguredPort();
    void refreshGauge();
    // The popover's content again while it is open.
    void refreshPopover();
    void fillPopover();
    void trayAvailabilityChanged(bool available);
    // The history section of the current report, made again only for a new report (it looks at
    // the disk for each project folder) or when the popover opens.
    const std::optional<HistoryContent>& historyContent();

    Models models_;
    Services services_;
    WindowRegistry& windows_;
    Desktop& desktop_;
    state::BlockingWorker& worker_;
    TrayLabel* tray_;
    PopoverWindow* popover_;
    std::uint16_t polledPort_ = 0;
    bool startedUp_ = false;
    bool relaunching_ = false;
    std::optional<core::Date> historyMadeFor_;
    std::optional<HistoryContent> historyContent_;
    state::Subscription usageChanged_;
    state::Subscription setupChanged_;
    state::Subscription updatesChanged_;
};

} // namespace meterly::ui
