#include "ui/theme/ThemeWatch.hpp"

#include <QEvent>
#include <QWidget>

namespace meterly::ui {

ThemeWatch::ThemeWatch(QWidget* widget, std::function<void()> restyle)
    : QObject(widget), restyle_(std::move(restyle)) {
    widget->installEventFilter(this);
}

void ThemeWatch::follow(QWidget* widget, std::function<void()> restyle) {
    new ThemeWatch(widget, std::move(restyle));
}

bool ThemeWatch::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ApplicationPaletteChange:
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
        if (watched == parent()) {
            restyle_();
        }
        break;
    default:
        break;
    }
    return false;
}

} // namespace meterly::ui
