#include "ui/tray/TrayHostWatch.hpp"

#include "ui/tray/XTraySelectionWatch.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QPointer>

namespace meterly::ui {

TrayHostWatch::TrayHostWatch(QDBusConnection bus, std::optional<std::string> display,
                             QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    if (display) {
        selection_ = new XTraySelectionWatch(*display, this);
        selection_->onChanged = [this](bool newHost) { report(newHost); };
    }
    if (!bus_.isConnected()) {
        watcher_ = false;
        return;
    }
    const QString name = QString::fromUtf8(watcherName);
    serviceWatcher_ =
        new QDBusServiceWatcher(name, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(serviceWatcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) { watcherOwner(owner); });
    // The owner now, asked once without waiting; a change meanwhile arrives as a signal.
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    ask << name;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(ask), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (watcher_.has_value()) {
                    return; // a signal was first
                }
                const QDBusPendingReply<QString> reply = *call;
                watcherOwner(reply.isValid() ? reply.value() : QString());
            });
}

TrayHostWatch::~TrayHostWatch() = default;

bool TrayHostWatch::xembedTray() const {
    return selection_ != nullptr && selection_->owned();
}

std::optional<bool> TrayHostWatch::available() const {
    if (!watcher_) {
        return std::nullopt;
    }
    return *watcher_ || xembedTray();
}

void TrayHostWatch::watcherOwner(const QString& owner) {
    const bool known = watcher_.has_value();
    const bool newHost = known && !owner.isEmpty() && owner != watcherOwner_;
    watcherOwner_ = owner;
    watcher_ = !owner.isEmpty();
    report(newHost);
}

void TrayHostWatch::report(bool newHost) {
    if (onChanged && available().has_value()) {
        onChanged(newHost);
    }
}

} // namespace meterly::ui
