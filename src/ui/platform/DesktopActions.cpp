#include "ui/platform/DesktopActions.hpp"

#include "state/BlockingWorker.hpp"
#include "ui/platform/SchemeHandlers.hpp"
#include "ui/popover/PopoverPresenter.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QPointer>
#include <QUrl>

namespace meterly::ui {

DesktopActions::DesktopActions(state::BlockingWorker& worker, core::EnvironmentLookup environment,
                               std::filesystem::path home, QObject* parent)
    : QObject(parent), worker_(worker), environment_(std::move(environment)),
      home_(std::move(home)) {}

void DesktopActions::openClaude(std::function<void(bool installed)> done) {
    const auto folders = SchemeHandlers::folders(environment_, home_);
    QPointer<DesktopActions> self(this);
    worker_.run([folders] { return SchemeHandlers::find("claude", folders).has_value(); },
                [self, done = std::move(done)](state::Outcome<bool> found) {
                    if (self == nullptr) {
                        return;
                    }
                    const bool installed = found.ok() && found.get();
                    if (installed) {
                        QDesktopServices::openUrl(QUrl(QStringLiteral("claude://")));
                    }
                    if (done) {
                        done(installed);
                    }
                });
}

void DesktopActions::revealFolder(const QString& folder) {
    const QString uri = QUrl::fromLocalFile(folder).toString();
    auto message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                  QStringLiteral("/org/freedesktop/FileManager1"),
                                                  QStringLiteral("org.freedesktop.FileManager1"),
                                                  QStringLiteral("ShowFolders"));
    message << QStringList{uri} << QString();
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [folder](QDBusPendingCallWatcher* call) {
                if (call->isError()) {
                    // No file manager on the bus: the desktop's default for folders.
                    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
                }
                call->deleteLater();
            });
}

void DesktopActions::revealFile(const QString& file) {
    const QString uri = QUrl::fromLocalFile(file).toString();
    auto message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                  QStringLiteral("/org/freedesktop/FileManager1"),
                                                  QStringLiteral("org.freedesktop.FileManager1"),
                                                  QStringLiteral("ShowItems"));
    message << QStringList{uri} << QString();
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [file](QDBusPendingCallWatcher* call) {
                if (call->isError()) {
                    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
                }
                call->deleteLater();
            });
}

bool DesktopActions::openWebPage(const QString& url) {
    if (!PopoverPresenter::isWebURL(url)) {
        return false;
    }
    return QDesktopServices::openUrl(QUrl(url));
}

} // namespace meterly::ui
