#pragma once

#include "state/NotificationCentre.hpp"

#include <QDBusConnection>
#include <QObject>
#include <chrono>

namespace meterly::ui {

// The desktop's notification server, org.freedesktop.Notifications on the session bus. Every
// call is asynchronous; nothing waits for the bus. Lives on the GUI thread.
class DBusNotificationCentre final : public QObject, public state::NotificationCentre {
public:
    static constexpr std::chrono::milliseconds defaultAuthorizationTimeout{2000};

    explicit DBusNotificationCentre(
        QDBusConnection connection = QDBusConnection::sessionBus(),
        std::chrono::milliseconds authorizationTimeout = defaultAuthorizationTimeout,
        QObject* parent = nullptr);

    // Authorised when a server answers GetServerInformation within the time-out; not when the
    // bus is unreachable, no server is there, or it does not answer in time.
    void requestAuthorization(std::function<void(bool)> done) override;

    // Notify with the app name "Meterly", the title as summary and the body, the sound hint
    // "message-new-instant", and the server's own identifier and expiry. The reply is not looked
    // at.
    void show(const std::string& identifier, const std::string& title,
              const std::string& body) override;

private:
    QDBusConnection connection_;
    std::chrono::milliseconds authorizationTimeout_;
};

} // namespace meterly::ui
