#pragma once

#include <QObject>
#include <functional>

class QEvent;
class QWidget;

namespace meterly::ui {

// Calls a widget's `restyle` whenever the palette or style it is drawn with changes (the desktop
// going from light to dark and back), so that each widget keeps its colours in one function and
// none overrides changeEvent for it. The watch is a child of the widget and goes with it.
class ThemeWatch final : public QObject {
public:
    static void follow(QWidget* widget, std::function<void()> restyle);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ThemeWatch(QWidget* widget, std::function<void()> restyle);

    std::function<void()> restyle_;
};

} // namespace meterly::ui
