#include "ui/tray/TrayLabel.hpp"

#include "ui/theme/Palette.hpp"
#include "ui/tray/RingGauge.hpp"

#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QTimer>

namespace meterly::ui {

TrayLabel::TrayLabel(QObject* parent)
    : QObject(parent), icon_(new QSystemTrayIcon(this)), trayWatch_(new QTimer(this)) {
    icon_->setToolTip(QStringLiteral("Meterly"));
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick &&
                    reason != QSystemTrayIcon::MiddleClick) {
                    return;
                }
                std::optional<QRect> where;
                const QRect geometry = icon_->geometry();
                if (geometry.isValid() && !geometry.isEmpty()) {
                    where = geometry;
                }
                if (onActivated) {
                    onActivated(where);
                }
            });
    // A tray host may come and go (a panel restarting); look every two seconds.
    trayWatch_->setInterval(2000);
    connect(trayWatch_, &QTimer::timeout, this, &TrayLabel::checkTray);
    redraw();
}

TrayLabel::~TrayLabel() = default;

bool TrayLabel::trayAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TrayLabel::isShown() const {
    return icon_->isVisible() && trayAvailable();
}

void TrayLabel::show() {
    icon_->show();
    trayWatch_->start();
    checkTray();
}

void TrayLabel::checkTray() {
    const bool available = trayAvailable();
    if (lastAvailable_ == available) {
        return;
    }
    const bool appeared = lastAvailable_.has_value() && available;
    lastAvailable_ = available;
    if (appeared) {
        // Dock again in the tray host that has just appeared.
        icon_->hide();
        icon_->show();
    }
    if (onTrayAvailabilityChanged) {
        onTrayAvailabilityChanged(available);
    }
}

void TrayLabel::setGauge(const TrayGauge& gauge) {
    if (drawn_ && gauge_ == gauge) {
        return;
    }
    gauge_ = gauge;
    redraw();
}

void TrayLabel::redraw() {
    drawn_ = true;
    ++drawCount_;
    icon_->setIcon(RingGauge::icon(gauge_.remaining, gauge_.exhausted, Palette::current()));
}

} // namespace meterly::ui
