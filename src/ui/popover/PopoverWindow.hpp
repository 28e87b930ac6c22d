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

// The frameless popup that holds the popover: under the tray icon when the tray tells where it
// is, else at the pointer, always kept on the screen. It closes on a click elsewhere.
class PopoverWindow : public QWidget {
    Q_OBJECT
public:
    explicit PopoverWindow(PopoverView* view);

    PopoverView* view() const { return view_; }

    // Shows the popup for a click on the tray icon (or hides it when that click was the one that
    // just closed it).
    void toggle(std::optional<QRect> icon);
    void showAt(std::optional<QRect> icon);

    // Where a popup of `size` goes: centred under the icon (over it when the icon sits in the
    // lower half of the screen), else under the pointer; then moved inside `screen`.
    static QPoint placement(QSize size, std::optional<QRect> icon, QPoint pointer, QRect screen);

    // Called each time the popup is shown.
    std::function<void()> onShown;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    PopoverView* view_;
    QElapsedTimer sinceHidden_;
};

} // namespace meterly::ui
