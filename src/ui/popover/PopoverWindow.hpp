#pragma once

#include <QElapsedTimer>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <functional>
#include <optional>

namespace meterly::ui {

class PopoverView;

// The frameless popup that holds the popover, opened next to the tray icon when the tray tells
// where it is, else next to the pointer: below it in the upper half of the screen, above it in
// the lower half, beside it on a panel at the left or right edge. It stays wholly on the screen
// that holds the icon and off the icon's panel; when its content grows while it is open, the
// edge next to the icon stays put. It closes on a click elsewhere.
class PopoverWindow : public QWidget {
    Q_OBJECT
public:
    // Pixels between the icon (or the pointer) and the popup.
    static constexpr int gap = 4;
    // How near a screen's left or right edge an icon must be, and how far from its top and
    // bottom, to count as one on a side panel when the panel reserves no room of its own.
    static constexpr int sidePanelBand = 64;

    explicit PopoverWindow(PopoverView* view);

    PopoverView* view() const { return view_; }

    // Shows the popup for a click on the tray icon (or hides it when that click was the one that
    // just closed it).
    void toggle(std::optional<QRect> icon);
    // Opens the popup next to `icon`, or next to `pointer` when the icon's place is unknown.
    void showAt(std::optional<QRect> icon, QPoint pointer);
    void showAt(std::optional<QRect> icon);

    enum class Side { below, above, right, left };
    // Which side of `anchor` (the icon, or the pointer as a 1×1 rectangle) the popup opens on.
    // `screen` is the whole screen holding the anchor, `available` the part that panels leave
    // free: an anchor outside it sits on a panel at that edge.
    static Side side(QRect anchor, QRect screen, QRect available);
    // Where a popup of `size` goes for that anchor: on its side, then moved wholly into the free
    // part of the screen (into the whole screen when it is too large for that).
    static QPoint placement(QSize size, QRect anchor, QRect screen, QRect available);

    // Called when the popup is about to open, before it is sized and placed: the content for
    // this opening is set here.
    std::function<void()> onOpening;

protected:
    bool event(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Anchor {
        QRect rect;
        QRect screen;
        QRect available;
    };
    // Lays out the content now, the innermost layouts first, so that the size is that of the
    // content just set.
    void settleLayout();
    void place();

    PopoverView* view_;
    QElapsedTimer sinceHidden_;
    std::optional<Anchor> anchor_;
};

} // namespace meterly::ui
