#include "ui/theme/ThemeWatch.hpp"

#include "ui/theme/Palette.hpp"

#include <QApplication>
#include <QPalette>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

namespace meterly::ui {
namespace {

QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(40, 40, 42));
    palette.setColor(QPalette::WindowText, Qt::white);
    return palette;
}

TEST(ThemeWatchTest, RestylesTheWidgetWhenThePaletteChangesAndGoesWithIt) {
    const QPalette original = QApplication::palette();
    int restyles = 0;
    bool sawDark = false;
    auto widget = std::make_unique<QWidget>();
    auto* child = new QWidget(widget.get());
    ThemeWatch::follow(widget.get(), [&] {
        ++restyles;
        sawDark = Palette::current().dark;
    });
    // A child's own changes are the child's business.
    child->setPalette(darkPalette());
    EXPECT_EQ(restyles, 0);

    QApplication::setPalette(darkPalette());
    QApplication::processEvents();
    EXPECT_GT(restyles, 0);
    EXPECT_TRUE(sawDark);

    restyles = 0;
    QApplication::setPalette(original);
    QApplication::processEvents();
    EXPECT_GT(restyles, 0);
    EXPECT_FALSE(sawDark);

    // Gone with its widget: a later change calls nothing.
    widget.reset();
    restyles = 0;
    QApplication::setPalette(darkPalette());
    QApplication::setPalette(original);
    QApplication::processEvents();
    EXPECT_EQ(restyles, 0);
}

} // namespace
} // namespace meterly::ui
