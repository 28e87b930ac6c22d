#pragma once

#include "core/LimitWindow.hpp"
#include "core/Time.hpp"
#include "core/UsageSnapshot.hpp"
#include "core/UsageSourceEvent.hpp"
#include "history/Calendar.hpp"
#include "history/UsageHistoryReport.hpp"
#include "history/UsageHistoryStore.hpp"
#include "state/BlockingWorker.hpp"
#include "state/ChangeSignal.hpp"
#include "state/MainExecutor.hpp"
#include "state/NotificationCentre.hpp"
#include "state/NotificationFallback.hpp"
#include "state/NotificationPreferences.hpp"
#include "state/Observable.hpp"
#include "state/RunwayForecast.hpp"
#include "state/SessionGate.hpp"
#include "state/TextFormatter.hpp"
#include "state/UpdateCheckStore.hpp"
#include "state/UpdateChecks.hpp"
#include "state/UsageFeed.hpp"
#include "state/UsageNotifier.hpp"
#include "state/WindowFill.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::state {

// The observable state of the tray app and the owner of its loops: it follows the usage source's
// events, keeps the latest snapshot and history report, advances its clock every second, drives
// the limit notifier and runs the update checks. Lives on the main executor; every member is
// called there. Views observe changed() and read the values afresh.
class UsageViewModel {
public:
    static constexpr std::string_view fiveHourRunwayWarningKey =
        "meterly.showsFiveHourRunwayWarning";
    static constexpr std::string_view sevenDayRunwayWarningKey =
        "meterly.showsSevenDayRunwayWarning";
    static constexpr core::Seconds tickInterval = 1;
    static constexpr core::Seconds updateCheckInterval = 600;
    static constexpr std::int64_t windowFillLimit = 5;

    // The app's model: notification switches over `defaults`, a delivery through `centre` (or
    // `fallback` while the centre is not used) and the limit notifier, all owned by the model.
    // `main`, `defaults`, `centre` and `fallback` outlive it. `updateState` may be none (no update
    // checks). `texts` formats the reset clock; `calendar` places the days of the session gate.
    UsageViewModel(MainExecutor& main, UpdateCheckStore& defaults, NotificationCentre& centre,
                   NotificationFallback& fallback, std::shared_ptr<UpdateChecks> updateState,
                   std::shared_ptr<const TextFormatter> texts = std::make_shared<TextFormatter>(),
                   std::shared_ptr<const history::Calendar> calendar = history::localCalendar());
    // The same with the switches and the notifier given (the seam for substitutes).
    UsageViewModel(MainExecutor& main, UpdateCheckStore& defaults,
                   std::shared_ptr<NotificationPreferences> notifications,
                   std::shared_ptr<UsageNotifier> notifier,
                   std::shared_ptr<UpdateChecks> updateState,
                   std::shared_ptr<const TextFormatter> texts = std::make_shared<TextFormatter>(),
                   std::shared_ptr<const history::Calendar> calendar = history::localCalendar());
    // Ends every loop; nothing the model started touches it afterwards.
    ~UsageViewModel();
    UsageViewModel(const UsageViewModel&) = delete;
    UsageViewModel& operator=(const UsageViewModel&) = delete;

    // Emitted after any observed value changed.
    ChangeSignal& changed() { return changed_; }

    // Replaces the listen, tick and update loops with new ones over `source`, primes the notifier
    // and runs one update check. The history loop is left alone.
    void start(const std::shared_ptr<UsageFeed>& source);
    // Replaces the history loop: a refresh at once on a worker, then one `interval` after each.
    void startHistory(std::shared_ptr<history::UsageHistoryStore> store, core::Seconds interval);
    // Ends the listen, tick, update and history loops; a pass already running completes.
    void stop();
    // To be called after a notification switch changed: the notifier re-plans.
    void notificationPreferencesChanged();

    // Observed values.
    const std::optional<core::UsageSnapshot>& snapshot() const { return *snapshot_; }
    core::Date now() const { return *now_; }
    std::optional<std::int64_t> pollFailure() const { return *pollFailure_; }
    std::optional<std::int64_t> proxyRequestsSeen() const { return *proxyRequestsSeen_; }
    std::optional<core::Date> proxyLastRequestAt() const { return *proxyLastRequestAt_; }
    // When traffic last went through the proxy, on the clock as it reads now: the last request,
    // else the latest reading's capture. It ages by the uptime since it arrived, so a wall-clock
    // step after that, either way, does not move it into the future or the past.
    std::optional<core::Date> lastTrafficAt() const;
    const std::optional<history::UsageHistoryReport>& history() const { return *history_; }
    const std::shared_ptr<NotificationPreferences>& notifications() const { return notifications_; }
    const std::shared_ptr<UpdateChecks>& updateState() const { return updateState_; }
    // The date and number texts in the user's locale and time zone.
    const TextFormatter& texts() const { return *texts_; }

    // The runway-warning switches, stored in the preferences on every assignment.
    bool showsFiveHourRunwayWarning() const { return *showsFiveHourRunwayWarning_; }
    void setShowsFiveHourRunwayWarning(bool shows);
    bool showsSevenDayRunwayWarning() const { return *showsSevenDayRunwayWarning_; }
    void setShowsSevenDayRunwayWarning(bool shows);
    // Either switch is on; writing sets both.
    bool showsRunwayWarnings() const;
    void setShowsRunwayWarnings(bool shows);

    // Derived values, computed on every read from the stored state and `now`.
    std::optional<core::LimitWindow> representative() const;
    // The five-hour window, else the seven-day one.
    std::optional<core::LimitWindow> menuBarWindow() const;
    // The latest snapshot is ten minutes old or more.
    bool isIdle() const;
    // How long ago the latest snapshot was taken, from a minute on.
    std::optional<std::string> lastActiveText() const;
    std::optional<RunwayForecast> fiveHourRunway() const;
    std::optional<RunwayForecast> sevenDayRunway() const;
    std::optional<SessionGate> sessionGate() const;
    std::optional<WindowFillSeries> windowFill() const;

    // The time left until the window resets ("3:07:09"), or "resetting…".
    std::string countdownText(const core::LimitWindow& window) const;
    // The reset time on the clock: "h:mm a" today, "EEE h:mm a" on another day.
    std::string resetClockText(const core::LimitWindow& window) const;

    // "5 min", "2h", "3d" for spans of a minute or more.
    static std::string compactDuration(core::Seconds seconds);
    // "0:05", "7:09", "3:07:09", "2d 5h".
    static std::string clockDuration(core::Seconds seconds);
    // "999", "1K", "1.3M".
    static std::string compactTokens(std::int64_t tokens);

private:
    UsageViewModel(MainExecutor& main, UpdateCheckStore& defaults,
                   const std::shared_ptr<NotificationPreferences>& notifications,
                   NotificationCentre& centre, NotificationFallback& fallback,
                   std::shared_ptr<UpdateChecks> updateState,
                   std::shared_ptr<const TextFormatter> texts,
                   std::shared_ptr<const history::Calendar> calendar);
    void handle(const core::UsageSourceEvent& event);
    // The age of the latest snapshot: its age on arrival (by the wall clock, never below 0) plus
    // the uptime from then to the model's last tick. Wall-clock steps after the arrival, either
    // way, leave it right; none without a snapshot.
    std::optional<core::Seconds> snapshotAge() const;
    void scheduleTick();
    void scheduleUpdateCheck();
    void refreshHistory(std::uint64_t generation);
    void keepWindowFillCap();
    void cancelTimer(std::optional<MainExecutor::TimerID>& timer);
    std::optional<RunwayForecast> runway(const std::optional<core::LimitWindow>& window,
                                         const history::WindowUsage& usage) const;

    MainExecutor& main_;
    UpdateCheckStore& defaults_;
    std::shared_ptr<const TextFormatter> texts_;
    std::shared_ptr<const history::Calendar> calendar_;
    ChangeSignal changed_;

    Observable<std::optional<core::UsageSnapshot>> snapshot_{std::nullopt, &changed_};
    Observable<core::Date> now_;
    // The executor's uptime when `now_` was read.
    core::Seconds uptime_;
    Observable<std::optional<std::int64_t>> pollFailure_{std::nullopt, &changed_};
    Observable<std::optional<std::int64_t>> proxyRequestsSeen_{std::nullopt, &changed_};
    Observable<std::optional<core::Date>> proxyLastRequestAt_{std::nullopt, &changed_};
    Observable<std::optional<history::UsageHistoryReport>> history_{std::nullopt, &changed_};
    const std::shared_ptr<NotificationPreferences> notifications_;
    Observable<bool> showsFiveHourRunwayWarning_;
    Observable<bool> showsSevenDayRunwayWarning_;
    const std::shared_ptr<UpdateChecks> updateState_;
    const std::shared_ptr<UsageNotifier> notifier_;

    // When the stored snapshot arrived: its age by the wall clock then, and the uptime then.
    struct Arrival {
        core::Seconds age = 0;
        core::Seconds uptime = 0;
    };
    std::optional<Arrival> snapshotArrival_;
    std::optional<Arrival> lastRequestArrival_;
    static Arrival arrival(std::optional<core::Date> stamp, core::Date now, core::Seconds uptime);
    core::Seconds ageSince(const Arrival& arrival) const;

    // The implied token cap of the last window-fill estimate, handed to the next one.
    std::optional<WindowFillSeries::CapReading> windowFillCap_;

    // The delivery of the source's events to handle().
    Subscription listening_;
    std::optional<MainExecutor::TimerID> tickTimer_;
    std::optional<MainExecutor::TimerID> updateTimer_;
    // Bumped whenever the update loop is replaced or stopped, so that a check finishing late
    // schedules nothing.
    std::uint64_t updateGeneration_ = 0;
    std::shared_ptr<history::UsageHistoryStore> historyStore_;
    core::Seconds historyInterval_ = 0;
    std::optional<MainExecutor::TimerID> historyTimer_;
    // Bumped whenever the history loop is replaced or stopped.
    std::uint64_t historyGeneration_ = 0;
    // Set to false by the destructor; callbacks that may come later look at it first.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // The history refresh blocks, so it runs here; declared last, so that it is destroyed first.
    BlockingWorker historyWorker_;
};

} // namespace meterly::state
