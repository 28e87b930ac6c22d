// Where the real popover opens: on every edge of screens of different sizes, for the content of
// this opening, and as its content grows while it is open.
#include "../PopoverSamples.hpp"
#include "ScreenLayout.hpp"
#include "ui/popover/PopoverView.hpp"
#include "ui/popover/PopoverWindow.hpp"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <gtest/gtest.h>
#include <string>

namespace meterly::ui {
namespace {

using Side = PopoverWindow::Side;

PopoverContent small() {
    PopoverContent content;
    content.header.status = {"waiting", LiveStatusContent::Dot::secondary, "No reading yet."};
    content.limits.form = LimitsContent::Form::waiting;
    content.limits.waiting = {"Waiting for data", "The first reading arrives with a request."};
    content.versionFooter = "v1.0.7";
    return content;
}

PopoverContent large() {
    auto content = samples::busyAfternoon();
    content.banner = samples::updateOffer();
    return content;
}

QRect screenNamed(const char* name) {
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->name() == QString::fromUtf8(name)) {
            return screen->geometry();
        }
    }
    ADD_FAILURE() << "no screen " << name;
    return {};
}

// Whether `popup` lies on `side` of `icon`, `gap` pixels away.
bool nextTo(QRect popup, QRect icon, Side side) {
    switch (side) {
    case Side::below:
        return popup.top() == icon.bottom() + 1 + PopoverWindow::gap;
    case Side::above:
        return popup.bottom() == icon.top() - 1 - PopoverWindow::gap;
    case Side::right:
        return popup.left() == icon.right() + 1 + PopoverWindow::gap;
    case Side::left:
        return popup.right() == icon.left() - 1 - PopoverWindow::gap;
    }
    return false;
}

class PopoverPlacementTest : public ::testing::Test {
protected:
    PopoverPlacementTest() {
        window_.onOpening = [this] { view_->setContent(opening_); };
    }
    ~PopoverPlacementTest() override { window_.hide(); }

    // Opens the popup with `content` as this opening's, and checks it where it lands at once and
    // once the events of the opening have run.
    void open(const PopoverContent& content, std::optional<QRect> icon, QPoint pointer = {}) {
        opening_ = content;
        window_.showAt(icon, pointer);
        placedAtOnce_ = window_.geometry();
        QApplication::processEvents();
    }

    PopoverView* view_ = new PopoverView({});
    PopoverWindow window_{view_};
    PopoverContent opening_;
    QRect placedAtOnce_;
};

TEST_F(PopoverPlacementTest, OpensNextToTheIconOnEveryEdgeWhollyOnItsScreen) {
    struct Case {
        const char* screen;
        // The icon's place relative to the screen's top-left corner (24×24).
        int x;
        int y;
        Side side;
    };
    const Case cases[] = {
        {"laptop", 1250, 776, Side::above},   // bottom panel, right end (LXQt, XFCE moved there)
        {"laptop", 4, 776, Side::above},      // bottom panel, left end
        {"laptop", 1250, 2, Side::below},     // top panel, right end
        {"monitor", 1890, 1054, Side::above}, // the larger screen's bottom panel
        {"monitor", 960, 2, Side::below},     // the larger screen's top panel, centre
        {"monitor", 2, 300, Side::right},     // a panel on the larger screen's left edge
        {"laptop", 1254, 500, Side::left},    // a panel on the right edge, lower half
        {"small", 1000, 744, Side::above},    // the small screen below the laptop
    };
    for (const auto& c : cases) {
        const QRect screen = screenNamed(c.screen);
        const QRect icon(screen.x() + c.x, screen.y() + c.y, 24, 24);
        for (const auto& content : {small(), large()}) {
            open(content, icon);
            const QRect popup = window_.geometry();
            const std::string where = std::string(c.screen) + " at " + std::to_string(c.x) + "," +
                                      std::to_string(c.y) + ", " + std::to_string(popup.height()) +
                                      " high";
            EXPECT_EQ(popup.width(), PopoverView::popoverWidth) << where;
            EXPECT_EQ(popup.size(), view_->sizeHint()) << where;
            EXPECT_EQ(popup, placedAtOnce_) << where << ": moved after it was shown";
            EXPECT_TRUE(screen.contains(popup)) << where;
            const int room = c.side == Side::above   ? icon.top() - screen.top()
                             : c.side == Side::below ? screen.bottom() - icon.bottom()
                                                     : screen.height();
            if (popup.height() + PopoverWindow::gap <= room) {
                EXPECT_FALSE(popup.intersects(icon)) << where;
                EXPECT_TRUE(nextTo(popup, icon, c.side)) << where;
            } else {
                // Taller than the room beside the icon: all of it on the screen, from its top.
                EXPECT_EQ(popup.top(), screen.top()) << where;
            }
            window_.hide();
        }
    }
}

TEST_F(PopoverPlacementTest, ContentThatGrewWhileClosedIsMeasuredBeforeTheOpening) {
    const QRect icon(1250, 776, 24, 24);
    open(small(), icon);
    const int smallHeight = window_.height();
    window_.hide();
    // History and an update arrived meanwhile: this opening is far taller.
    open(large(), icon);
    EXPECT_GT(window_.height(), smallHeight + 200);
    EXPECT_EQ(placedAtOnce_, window_.geometry());
    EXPECT_TRUE(screenNamed("laptop").contains(window_.geometry()));
    EXPECT_TRUE(nextTo(window_.geometry(), icon, Side::above));
}

TEST_F(PopoverPlacementTest, GrowingWhileOpenKeepsTheEdgeNextToTheIcon) {
    struct Case {
        QRect icon;
        Side side;
    };
    const QRect monitor = screenNamed("monitor");
    const Case cases[] = {
        {QRect(1250, 776, 24, 24), Side::above},
        {QRect(monitor.x() + 1890, 2, 24, 24), Side::below},
        {QRect(monitor.x() + 2, 700, 24, 24), Side::right},
    };
    for (const auto& c : cases) {
        open(small(), c.icon);
        const QRect before = window_.geometry();
        view_->setContent(large());
        QApplication::processEvents();
        const QRect after = window_.geometry();
        EXPECT_GT(after.height(), before.height() + 200);
        EXPECT_TRUE(QGuiApplication::screenAt(c.icon.center())->geometry().contains(after));
        EXPECT_TRUE(nextTo(after, c.icon, c.side));
        if (c.side == Side::above) {
            EXPECT_EQ(after.bottom(), before.bottom());
        } else if (c.side == Side::below) {
            EXPECT_EQ(after.top(), before.top());
        }
        // And back: shrinking keeps that edge too.
        view_->setContent(small());
        QApplication::processEvents();
        EXPECT_EQ(window_.geometry(), before);
        window_.hide();
    }
}

TEST_F(PopoverPlacementTest, ThePointerStandsInForAnUnknownIcon) {
    const QRect monitor = screenNamed("monitor");
    // A click on a bottom panel of the larger screen, the icon's place unknown.
    const QPoint pointer(monitor.x() + 1900, 1070);
    open(large(), std::nullopt, pointer);
    const QRect popup = window_.geometry();
    EXPECT_TRUE(monitor.contains(popup));
    EXPECT_EQ(popup.bottom(), pointer.y() - 1 - PopoverWindow::gap);
    // At the top of the laptop's screen: below the pointer.
    window_.hide();
    open(large(), std::nullopt, QPoint(640, 10));
    EXPECT_EQ(window_.geometry().top(), 10 + 1 + PopoverWindow::gap);
    EXPECT_TRUE(screenNamed("laptop").contains(window_.geometry()));
}

} // namespace
} // namespace meterly::ui
