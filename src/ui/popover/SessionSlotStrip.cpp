#include "ui/popover/SessionSlotStrip.hpp"

#include "ui/theme/Palette.hpp"
#include "ui/tray/RingGauge.hpp"
#include "ui/widgets/Share.hpp"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace meterly::ui {
namespace {

void capsule(QPainter& painter, const QRectF& rect, const QColor& colour) {
    if (rect.width() <= 0 || rect.height() <= 0) {
        return;
    }
    QPainterPath path;
    const double radius = std::min(rect.width(), rect.height()) / 2;
    path.addRoundedRect(rect, radius, radius);
    painter.fillPath(path, colour);
}

} // namespace

SessionSlotStrip::SessionSlotStrip(QWidget* parent) : QWidget(parent) {
    setFixedHeight(static_cast<int>(blockHeight));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SessionSlotStrip::setSlots(const std::vector<SessionGateContent::Slot>& sessionSlots) {
    if (sessionSlots_ == sessionSlots) {
        return;
    }
    sessionSlots_ = sessionSlots;
    update();
}

std::vector<QRectF> SessionSlotStrip::blockRects(std::size_t count, double width) {
    std::vector<QRectF> rects;
    if (count == 0) {
        return rects;
    }
    const auto n = static_cast<double>(count);
    const double each = std::max(0.0, (width - (n - 1) * blockGap) / n);
    for (std::size_t i = 0; i < count; ++i) {
        rects.emplace_back(static_cast<double>(i) * (each + blockGap), 0, each, blockHeight);
    }
    return rects;
}

double SessionSlotStrip::backgroundOpacity(SessionGateContent::Slot::Kind kind) {
    using Kind = SessionGateContent::Slot::Kind;
    switch (kind) {
    case Kind::active:
    case Kind::available:
        return 0.25;
    case Kind::spent:
        return 0.55;
    case Kind::outOfReach:
        break;
    }
    return 0.1;
}

QRectF SessionSlotStrip::fillRect(const SessionGateContent::Slot& slot, const QRectF& block) {
    if (slot.kind != SessionGateContent::Slot::Kind::active) {
        return {};
    }
    return {block.left(), block.top(), clampedShare(slot.remaining) * block.width(),
            block.height()};
}

void SessionSlotStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const Palette palette = Palette::current();
    const auto rects = blockRects(sessionSlots_.size(), width());
    for (std::size_t i = 0; i < rects.size(); ++i) {
        const auto& slot = sessionSlots_[i];
        capsule(painter, rects[i],
                Palette::withOpacity(palette.secondary, backgroundOpacity(slot.kind)));
        const QRectF fill = fillRect(slot, rects[i]);
        if (!fill.isEmpty()) {
            capsule(painter, fill, RingGauge::color(slot.remaining, slot.remaining <= 0, palette));
        }
    }
}

} // namespace meterly::ui
