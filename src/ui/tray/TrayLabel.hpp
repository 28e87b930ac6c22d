#pragma once

#include "ui/tray/TrayGauge.hpp"

#include <QObject>
#include <QRect>
#include <functional>
#include <optional>

class QSystemTrayIcon;

namespace meterly::ui {

class TrayHostWatch;

// The app's item in the desktop's tray: the ring gauge, redrawn only when what it shows
// changes. A click reports where the icon is (when the tray says) so that the popover can open
// under it. It follows the tray hosts as they come and go and docks again with each new one.
class TrayLabel : public QObject {
    Q_OBJECT
public:
    explicit TrayLabel(TrayHostWatch& hosts, QObject* parent = nullptr);
    ~TrayLabel() override;

    // Shows the icon (or starts waiting for a tray host).
    void show();

    void setGauge(const TrayGauge& gauge);
    const TrayGauge& gauge() const { return gauge_; }
    // How many times the icon was drawn (tests: it is drawn only on a change).
    int drawCount() const { return drawCount_; }

    // Whether a tray host is there to show the icon (false until that is known).
    bool trayAvailable() const;

    // The icon was clicked; the rectangle is the icon on screen when the tray tells it.
    std::function<void(std::optional<QRect> icon)> onActivated;
    // A tray host appeared or went away.
    std::function<void(bool available)> onTrayAvailabilityChanged;

    QSystemTrayIcon* trayIcon() const { return icon_; }

private:
    void redraw();
    void checkTray(bool newHost);

    TrayHostWatch& hosts_;
    QSystemTrayIcon* icon_;
    bool showing_ = false;
    TrayGauge gauge_;
    bool drawn_ = false;
    int drawCount_ = 0;
    std::optional<bool> lastAvailable_;
};

} // namespace meterly::ui
