#pragma once

#include <functional>
#include <string>

namespace meterly::state {

// The desktop's notification service (on Linux the org.freedesktop.Notifications server). It
// shows notifications at once; it holds none for later. Main executor only.
class NotificationCentre {
public:
    virtual ~NotificationCentre() = default;

    // Finds out whether notifications can be shown through the centre and calls `done` with the
    // answer exactly once, later, on the main executor. Never blocks.
    virtual void requestAuthorization(std::function<void(bool authorized)> done) = 0;

    // Hands the centre a notification to show now, without waiting for or looking at the outcome.
    virtual void show(const std::string& identifier, const std::string& title,
                      const std::string& body) = 0;
};

} // namespace meterly::state
