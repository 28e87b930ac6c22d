#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <optional>
#include <string>

class QDBusServiceWatcher;

namespace meterly::ui {

class XTraySelectionWatch;

// Follows the desktop's tray hosts by what they announce, asking nothing again and again: the
// owner of the StatusNotifierItem watcher's name on the session bus, and the owner of the X
// system tray selection. Either one shows the icon.
class TrayHostWatch : public QObject {
    Q_OBJECT
public:
    static constexpr const char* watcherName = "org.kde.StatusNotifierWatcher";

    // `bus` is the app's session bus connection (one not connected knows no watcher); `display`
    // names the X display whose tray is followed (none outside X).
    TrayHostWatch(QDBusConnection bus, std::optional<std::string> display,
                  QObject* parent = nullptr);
    ~TrayHostWatch() override;

    // Whether a tray host is there; none until the first answers are in.
    std::optional<bool> available() const;
    bool statusNotifierWatcher() const { return watcher_.value_or(false); }
    bool xembedTray() const;

    // A host appeared or went away; `newHost` is true when one appeared (or replaced another),
    // so that the icon docks with it.
    std::function<void(bool newHost)> onChanged;

private:
    void watcherOwner(const QString& owner);
    void report(bool newHost);

    QDBusConnection bus_;
    QDBusServiceWatcher* serviceWatcher_ = nullptr;
    XTraySelectionWatch* selection_ = nullptr;
    std::optional<bool> watcher_;
    QString watcherOwner_;
};

} // namespace meterly::ui
