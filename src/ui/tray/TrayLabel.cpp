#include "ui/tray/TrayLabel.hpp"

#include "ui/theme/Palette.hpp"
#include "ui/tray/RingGauge.hpp"
#include "ui/tray/TrayHostWatch.hpp"

#include <QSystemTrayIcon>

namespace meterly::ui {

TrayLabel::TrayLabel(TrayHostWatch& hosts, QObject* parent)
    : QObject(parent), hosts_(hosts), icon_(new QSystemTrayIcon(this)) {
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
    // A tray host may come and go (a panel restarting).
    hosts_.onChanged = [this](bool newHost) { checkTray(newHost); };
    redraw();
}

TrayLabel::~TrayLabel() {
    hosts_.onChanged = nullptr;
}

bool TrayLabel::trayAvailable() const {
    return hosts_.available().value_or(false);
}

void TrayLabel::show() {
    icon_->show();
    showing_ = true;
    checkTray(false);
}

void TrayLabel::checkTray(bool newHost) {
    const auto available = hosts_.available();
    if (!showing_ || !available) {
        return;
    }
    // A host that replaced another keeps the tray available, yet the icon must dock with it.
    const bool appeared = lastAvailable_.has_value() && *available && (!*lastAvailable_ || newHost);
    if (lastAvailable_ == *available && !appeared) {
        return;
    }
    const bool changed = lastAvailable_ != *available;
    lastAvailable_ = *available;
    if (appeared) {
        // Dock again in the tray host that has just appeared.
        icon_->hide();
        icon_->show();
    }
    if (changed && onTrayAvailabilityChanged) {
        onTrayAvailabilityChanged(*available);
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
