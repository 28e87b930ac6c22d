#include "ui/popover/PopoverWindow.hpp"

#include "ui/popover/PopoverView.hpp"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

namespace meterly::ui {

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

QPoint PopoverWindow::placement(QSize size, std::optional<QRect> icon, QPoint pointer,
                                QRect screen) {
    QPoint origin;
    if (icon) {
        const bool lowerHalf = icon->center().y() > screen.center().y();
        origin.setX(icon->center().x() - size.width() / 2);
        origin.setY(lowerHalf ? icon->top() - size.height() - 2 : icon->bottom() + 3);
    } else {
        const bool lowerHalf = pointer.y() > screen.center().y();
        origin.setX(pointer.x() - size.width() / 2);
        origin.setY(lowerHalf ? pointer.y() - size.height() - 4 : pointer.y() + 4);
    }
    // Kept inside the screen (a few pixels off its side edges), the top-left corner winning when
    // the popup is larger.
    constexpr int sideMargin = 4;
    origin.setX(std::max(screen.left(),
                         std::min(origin.x(), screen.right() + 1 - sideMargin - size.width())));
    origin.setY(std::max(screen.top(), std::min(origin.y(), screen.bottom() + 1 - size.height())));
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
    const QPoint pointer = QCursor::pos();
    QScreen* screen = nullptr;
    if (icon) {
        screen = QGuiApplication::screenAt(icon->center());
    }
    if (screen == nullptr) {
        screen = QGuiApplication::screenAt(pointer);
    }
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    adjustSize();
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    move(placement(sizeHint(), icon, pointer, area));
    show();
    raise();
    activateWindow();
}

void PopoverWindow::showEvent(QShowEvent* event) {
    view_->resetViewState();
    if (onShown) {
        onShown();
    }
    QWidget::showEvent(event);
}

void PopoverWindow::hideEvent(QHideEvent* event) {
    sinceHidden_.start();
    QWidget::hideEvent(event);
}

} // namespace meterly::ui
