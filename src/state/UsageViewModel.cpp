#include "state/UsageViewModel.hpp"

#include "state/LimitNotifier.hpp"
#include "state/NotificationDelivery.hpp"
#include "state/PreferenceValue.hpp"

namespace meterly::state {

namespace {

// A runway switch as stored: a Boolean, else on.
bool storedSwitch(const UpdateCheckStore& defaults, std::string_view key) {
    return preferenceAs<bool>(defaults.object(key)).value_or(true);
}

// The delivery and the notifier that uses it, kept together; the switches they read stay alive
// with them.
struct AlertStack {
    AlertStack(MainExecutor& main, std::shared_ptr<NotificationPreferences> switches,
               NotificationCentre& centre, NotificationFallback& fallback)
        : preferences(std::move(switches)), delivery(main, centre, fallback),
          notifier(*preferences, delivery) {}

    std::shared_ptr<NotificationPreferences> preferences;
    NotificationDelivery delivery;
    LimitNotifier notifier;
};

std::shared_ptr<UsageNotifier> limitNotifier(MainExecutor& main,
                                             std::shared_ptr<NotificationPreferences> preferences,
                                             NotificationCentre& centre,
                                             NotificationFallback& fallback) {
    auto stack = std::make_shared<AlertStack>(main, std::move(preferences), centre, fallback);
    return std::shared_ptr<UsageNotifier>(stack, &stack->notifier);
}

} // namespace

UsageViewModel::UsageViewModel(MainExecutor& main, UpdateCheckStore& defaults,
                               NotificationCentre& centre, NotificationFallback& fallback,
                               std::shared_ptr<UpdateChecks> updateState,
                               std::shared_ptr<const TextFormatter> texts,
                               std::shared_ptr<const history::Calendar> calendar)
    : UsageViewModel(main, defaults, std::make_shared<NotificationPreferences>(defaults), centre,
                     fallback, std::move(updateState), std::move(texts), std::move(calendar)) {}

UsageViewModel::UsageViewModel(MainExecutor& main, UpdateCheckStore& defaults,
                               const std::shared_ptr<NotificationPreferences>& notifications,
                               NotificationCentre& centre, NotificationFallback& fallback,
                               std::shared_ptr<UpdateChecks> updateState,
                               std::shared_ptr<const TextFormatter> texts,
                               std::shared_ptr<const history::Calendar> calendar)
    : UsageViewModel(main, defaults, notifications,
                     limitNotifier(main, notifications, centre, fallback), std::move(updateState),
                     std::move(texts), std::move(calendar)) {}

UsageViewModel::UsageViewModel(MainExecutor& main, UpdateCheckStore& defaults,
                               std::shared_ptr<NotificationPreferences> notifications,
                               std::shared_ptr<UsageNotifier> notifier,
                               std::shared_ptr<UpdateChecks> updateState,
                               std::shared_ptr<const TextFormatter> texts,
                               std::shared_ptr<const history::Calendar> calendar)
    : main_(main), defaults_(defaults), texts_(std::move(texts)), calendar_(std::move(calendar)),
      now_(main.now(), &changed_), uptime_(main.uptime()), notifications_(std::move(notifications)),
      showsFiveHourRunwayWarning_(storedSwitch(defaults, fiveHourRunwayWarningKey), &changed_),
      showsSevenDayRunwayWarning_(storedSwitch(defaults, sevenDayRunwayWarningKey), &changed_),
      updateState_(std::move(updateState)), notifier_(std::move(notifier)), historyWorker_(main) {}

UsageViewModel::~UsageViewModel() {
    stop();
    *alive_ = false;
}

void UsageViewModel::cancelTimer(std::optional<MainExecutor::TimerID>& timer) {
    if (timer) {
        main_.cancel(*timer);
        timer.reset();
    }
}

void UsageViewModel::start(const std::shared_ptr<UsageFeed>& source) {
    listening_.reset();
    cancelTimer(tickTimer_);
    cancelTimer(updateTimer_);
    ++updateGeneration_;

    notifier_->prime();
    if (updateState_) {
        updateState_->checkNow({});
    }
    listening_ = source->listen([this](const core::UsageSourceEvent& event) { handle(event); });
    scheduleUpdateCheck();
    scheduleTick();
}

void UsageViewModel::handle(const core::UsageSourceEvent& event) {
    if (const auto* unreachable = event.asUnreachable()) {
        pollFailure_.set(unreachable->consecutiveFailures);
        return;
    }
    const auto& status = *event.asStatus();
    pollFailure_.set(std::nullopt);
    proxyRequestsSeen_.set(status.requestsSeen);
    if (status.lastRequestAt != proxyLastRequestAt()) {
        lastRequestArrival_ =
            status.lastRequestAt
                ? std::optional(arrival(status.lastRequestAt, main_.now(), main_.uptime()))
                : std::nullopt;
    }
    proxyLastRequestAt_.set(status.lastRequestAt);
    // The newest reading to arrive wins, whatever its capture time: after the wall clock was set
    // back, a newer reading carries an earlier time.
    if (!status.snapshot || status.snapshot == snapshot()) {
        return;
    }
    // Both clocks read afresh: the model's own may be up to a tick behind the reading.
    snapshotArrival_ = arrival(status.snapshot->capturedAt, main_.now(), main_.uptime());
    snapshot_.set(status.snapshot);
    keepWindowFillCap();
    notifier_->refresh(status.snapshot, main_.now());
}

void UsageViewModel::scheduleTick() {
    tickTimer_ = main_.postAfter(tickInterval, [this] {
        tickTimer_.reset();
        uptime_ = main_.uptime();
        now_.set(main_.now());
        notifier_->tick(now());
        scheduleTick();
    });
}

void UsageViewModel::scheduleUpdateCheck() {
    if (!updateState_) {
        return;
    }
    const std::uint64_t generation = updateGeneration_;
    updateTimer_ = main_.postAfter(updateCheckInterval, [this, generation] {
        updateTimer_.reset();
        updateState_->checkIfDue([this, alive = alive_, generation] {
            if (*alive && generation == updateGeneration_) {
                scheduleUpdateCheck();
            }
        });
    });
}

void UsageViewModel::startHistory(std::shared_ptr<history::UsageHistoryStore> store,
                                  core::Seconds interval) {
    cancelTimer(historyTimer_);
    historyStore_ = std::move(store);
    historyInterval_ = interval;
    refreshHistory(++historyGeneration_);
}

void UsageViewModel::refreshHistory(std::uint64_t generation) {
    historyWorker_.run(
        [store = historyStore_, now = main_.now()] { return store->refreshAndReport(now); },
        [this, generation](Outcome<history::UsageHistoryReport> outcome) {
            // Runs only while the worker, and so the model, exists. A report in flight when the
            // loop was stopped or replaced is still kept: it is the pass that was running.
            if (outcome.ok()) {
                history_.set(std::move(outcome.get()));
                keepWindowFillCap();
            }
            if (generation != historyGeneration_) {
                return;
            }
            historyTimer_ = main_.postAfter(historyInterval_, [this, generation] {
                historyTimer_.reset();
                refreshHistory(generation);
            });
        });
}

void UsageViewModel::keepWindowFillCap() {
    if (auto fill = windowFill(); fill && fill->capReading) {
        windowFillCap_ = fill->capReading;
    }
}

void UsageViewModel::stop() {
    listening_.reset();
    cancelTimer(tickTimer_);
    cancelTimer(updateTimer_);
    ++updateGeneration_;
    cancelTimer(historyTimer_);
    ++historyGeneration_;
}

void UsageViewModel::notificationPreferencesChanged() {
    auto notifier = notifier_;
    auto current = snapshot();
    MainExecutor& main = main_;
    notifier->prime([notifier, current = std::move(current), &main] {
        notifier->preferencesChanged(current, main.now());
    });
}

void UsageViewModel::setShowsFiveHourRunwayWarning(bool shows) {
    showsFiveHourRunwayWarning_.set(shows);
    defaults_.set(PreferenceValue(shows), fiveHourRunwayWarningKey);
}

void UsageViewModel::setShowsSevenDayRunwayWarning(bool shows) {
    showsSevenDayRunwayWarning_.set(shows);
    defaults_.set(PreferenceValue(shows), sevenDayRunwayWarningKey);
}

bool UsageViewModel::showsRunwayWarnings() const {
    return showsFiveHourRunwayWarning() || showsSevenDayRunwayWarning();
}

void UsageViewModel::setShowsRunwayWarnings(bool shows) {
    setShowsFiveHourRunwayWarning(shows);
    setShowsSevenDayRunwayWarning(shows);
}

} // namespace meterly::state
