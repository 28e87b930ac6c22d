#pragma once

#include "core/Time.hpp"
#include "state/MainExecutor.hpp"
#include "state/NotificationCentre.hpp"
#include "state/NotificationFallback.hpp"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace meterly::state {

// The one place that shows notifications: through the desktop's notification centre once it has
// answered, through the fallback program otherwise (and until that is decided). Notifications for
// later are kept here and handed to the centre when they are due, since the centre holds none.
// Main executor only.
class NotificationDelivery {
public:
    // Kept requests are looked at again at least this often, so a clock that jumps ahead (a
    // suspend) delays one by no more than this.
    static constexpr core::Seconds recheckInterval = 60;

    NotificationDelivery(MainExecutor& main, NotificationCentre& centre,
                         NotificationFallback& fallback);
    ~NotificationDelivery();
    NotificationDelivery(const NotificationDelivery&) = delete;
    NotificationDelivery& operator=(const NotificationDelivery&) = delete;

    // Decides once whether the centre is used (it is when it answers); `done` runs on the main
    // executor once decided. Later calls decide nothing again.
    void prime(std::function<void()> done = {});

    // None until decided; then whether the centre is used. It never changes after that.
    std::optional<bool> usesSystemCentre() const { return usesSystemCentre_; }
    // Whether notifications for later are taken: only with the centre.
    bool canSchedule() const { return usesSystemCentre_.value_or(false); }

    // Shows a notification at once (the identifier is not used by the fallback).
    void deliverNow(const std::string& identifier, const std::string& title,
                    const std::string& body);
    // Keeps a notification for `at` (one already due is shown at once); replaces a kept one with
    // the same identifier. Does nothing without the centre.
    void schedule(const std::string& identifier, const std::string& title, const std::string& body,
                  core::Date at);
    // Drops kept notifications with these identifiers; shown ones are not touched. Does nothing
    // without the centre.
    void cancel(const std::vector<std::string>& identifiers);

    // The identifiers of the notifications kept for later, in order.
    std::vector<std::string> scheduledIdentifiers() const;

private:
    struct Kept {
        std::string title;
        std::string body;
        core::Date at = 0;
        MainExecutor::TimerID timer = 0;
    };
    void arm(const std::string& identifier, Kept& kept);
    void check(const std::string& identifier);

    MainExecutor& main_;
    NotificationCentre& centre_;
    NotificationFallback& fallback_;
    std::optional<bool> usesSystemCentre_;
    bool deciding_ = false;
    std::vector<std::function<void()>> waiting_;
    std::map<std::string, Kept> kept_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace meterly::state
