#include "ui/popover/PopoverWindow.hpp"

#include "ui/popover/PopoverView.hpp"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

namespace meterly::ui {
namespace {

// The part of the screen that panels leave free, or the whole screen when none is known.
QRect freeArea(QRect screen, QRect available) {
    return available.isValid() && !available.isEmpty() ? available : screen;
}

// `origin` moved so that `length` fits between `low` and `high` (inclusive); the low end wins
// when it cannot fit.
int keptWithin(int origin, int length, int low, int high) {
    return std::max(low, std::min(origin, high + 1 - length));
}

} // namespace

PopoverWindow::PopoverWindow(PopoverView* view)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint), view_(view) {
    setWindowTitle(QStringLiteral("Meterly"));
    setObjectName(QStringLiteral("meterly.popover"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    view_->setParent(this);
    layout->addWidget(view_);
}

PopoverWindow::Side PopoverWindow::side(QRect anchor, QRect screen, QRect available) {
    const QRect free = freeArea(screen, available);
    // An anchor in the room a panel reserves: the popup opens towards the free part.
    if (anchor.right() < free.left()) {
        return Side::right;
    }
    if (anchor.left() > free.right()) {
        return Side::left;
    }
    if (anchor.bottom() < free.top()) {
        return Side::below;
    }
    if (anchor.top() > free.bottom()) {
        return Side::above;
    }
    // A panel that reserves no room: an anchor hugging the left or right edge, away from the
    // top and bottom, is on a side panel.
    const QPoint centre = anchor.center();
    const int toTopOrBottom = std::min(centre.y() - screen.top(), screen.bottom() - centre.y());
    if (toTopOrBottom >= sidePanelBand) {
        if (centre.x() - screen.left() < sidePanelBand) {
            return Side::right;
        }
        if (screen.right() - centre.x() < sidePanelBand) {
            return Side::left;
        }
    }
    return centre.y() > screen.center().y() ? Side::above : Side::below;
}

QPoint PopoverWindow::placement(QSize size, QRect anchor, QRect screen, QRect available) {
    const bool lowerHalf = anchor.center().y() > screen.center().y();
    QPoint origin;
    switch (side(anchor, screen, available)) {
    case Side::below:
        origin = {anchor.center().x() - size.width() / 2, anchor.bottom() + 1 + gap};
        break;
    case Side::above:
        origin = {anchor.center().x() - size.width() / 2, anchor.top() - gap - size.height()};
        break;
    case Side::right:
    case Side::left: {
        // Beside the icon, level with it, growing towards the middle of the screen.
        const int y = lowerHalf ? anchor.bottom() + 1 - size.height() : anchor.top();
        const int x = side(anchor, screen, available) == Side::right
                          ? anchor.right() + 1 + gap
                          : anchor.left() - gap - size.width();
        origin = {x, y};
        break;
    }
    }
    // Wholly inside the free part of the screen; a popup too large for it may use the rest of
    // the screen, its top-left corner winning.
    const QRect free = freeArea(screen, available);
    const bool fitsAcross = size.width() <= free.width();
    const bool fitsDown = size.height() <= free.height();
    origin.setX(keptWithin(origin.x(), size.width(), fitsAcross ? free.left() : screen.left(),
                           fitsAcross ? free.right() : screen.right()));
    origin.setY(keptWithin(origin.y(), size.height(), fitsDown ? free.top() : screen.top(),
                           fitsDown ? free.bottom() : screen.bottom()));
    return origin;
}

void PopoverWindow::toggle(std::optional<QRect> icon) {
    // The press on the icon that closed the popup arrives here as a click just after.
    if (!isVisible() && sinceHidden_.isValid() && sinceHidden_.elapsed() < 250) {
        sinceHidden_.invalidate();
        return;
    }
    if (isVisible()) {
        hide();
        return;
    }
    showAt(icon);
}

void PopoverWindow::showAt(std::optional<QRect> icon) {
    showAt(icon, QCursor::pos());
}

void PopoverWindow::showAt(std::optional<QRect> icon, QPoint pointer) {
    // This opening's content first, so that the popup is sized and placed for it.
    view_->resetViewState();
    if (onOpening) {
        onOpening();
    }
    settleLayout();

    Anchor anchor;
    anchor.rect = icon ? *icon : QRect(pointer, QSize(1, 1));
    QScreen* screen = QGuiApplication::screenAt(anchor.rect.center());
    if (screen == nullptr) {
        screen = QGuiApplication::screenAt(pointer);
    }
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    anchor.screen = screen != nullptr ? screen->geometry() : QRect(0, 0, 1280, 800);
    anchor.available = screen != nullptr ? screen->availableGeometry() : anchor.screen;
    anchor_ = anchor;
    place();
    show();
    raise();
    activateWindow();
}

void PopoverWindow::settleLayout() {
    ensurePolished();
    // A hidden window's layouts are not laid out by their posted requests; each one, from the
    // innermost out, passes its new size up to the one around it.
    const auto widgets = findChildren<QWidget*>();
    for (auto it = widgets.rbegin(); it != widgets.rend(); ++it) {
        if (QLayout* inner = (*it)->layout()) {
            inner->activate();
        }
    }
    layout()->activate();
}

void PopoverWindow::place() {
    if (!anchor_) {
        return;
    }
    const QPoint origin = placement(size(), anchor_->rect, anchor_->screen, anchor_->available);
    if (origin != pos()) {
        move(origin);
    }
}

bool PopoverWindow::event(QEvent* event) {
    // The layout has already resized the popup to new content by now: move it so that the edge
    // next to the icon stays where it was.
    const bool handled = QWidget::event(event);
    if (isVisible() &&
        (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize)) {
        place();
    }
    return handled;
}

void PopoverWindow::hideEvent(QHideEvent* event) {
    sinceHidden_.start();
    anchor_.reset();
    QWidget::hideEvent(event);
}

} // namespace meterly::ui
