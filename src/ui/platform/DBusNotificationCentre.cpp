#include "ui/platform/DBusNotificationCentre.hpp"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QMetaObject>
#include <QStringList>
#include <QVariantMap>

namespace meterly::ui {
namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
// The desktop's sound for a new message; a server without sounds ignores the hint.
const QString soundName = QStringLiteral("message-new-instant");

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(service, path, service, method);
}

} // namespace

DBusNotificationCentre::DBusNotificationCentre(QDBusConnection connection,
                                               std::chrono::milliseconds authorizationTimeout,
                                               QObject* parent)
    : QObject(parent), connection_(std::move(connection)),
      authorizationTimeout_(authorizationTimeout) {}

void DBusNotificationCentre::requestAuthorization(std::function<void(bool)> done) {
    if (!connection_.isConnected()) {
        QMetaObject::invokeMethod(
            this, [done = std::move(done)] { done(false); }, Qt::QueuedConnection);
        return;
    }
    const auto pending = connection_.asyncCall(call(QStringLiteral("GetServerInformation")),
                                               static_cast<int>(authorizationTimeout_.count()));
    auto* watcher = new QDBusPendingCallWatcher(pending, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done = std::move(done)](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                done(!finished->isError());
            });
}

void DBusNotificationCentre::show(const std::string& /*identifier*/, const std::string& title,
                                  const std::string& body) {
    auto message = call(QStringLiteral("Notify"));
    message << QStringLiteral("Meterly") << 0u << QString() << QString::fromStdString(title)
            << QString::fromStdString(body) << QStringList()
            << QVariantMap{{QStringLiteral("sound-name"), soundName}} << -1;
    connection_.asyncCall(message);
}

} // namespace meterly::ui
