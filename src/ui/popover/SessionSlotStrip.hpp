#pragma once

#include "ui/popover/PopoverContent.hpp"

#include <QRectF>
#include <QWidget>
#include <vector>

namespace meterly::ui {

// The blocks of today's five-hour windows: one capsule per slot, 3 points apart, 6 points high,
// sharing the width equally; the active slot is filled by its remaining share.
class SessionSlotStrip : public QWidget {
    Q_OBJECT
public:
    static constexpr double blockHeight = 6;
    static constexpr double blockGap = 3;

    explicit SessionSlotStrip(QWidget* parent = nullptr);

    void setSlots(const std::vector<SessionGateContent::Slot>& sessionSlots);

    // Each block's rectangle in a strip of the given width.
    static std::vector<QRectF> blockRects(std::size_t count, double width);
    // The background capsule's opacity of the secondary ink for a slot.
    static double backgroundOpacity(SessionGateContent::Slot::Kind kind);
    // The active slot's fill: its rectangle within `block` (zero width for nothing left).
    static QRectF fillRect(const SessionGateContent::Slot& slot, const QRectF& block);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<SessionGateContent::Slot> sessionSlots_;
};

} // namespace meterly::ui
