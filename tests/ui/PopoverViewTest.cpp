#include "ui/popover/PopoverView.hpp"

#include "PopoverSamples.hpp"
#include "ui/charts/WindowFillChart.hpp"
#include "ui/popover/HistorySection.hpp"
#include "ui/popover/NoticeView.hpp"
#include "ui/popover/PopoverHeader.hpp"
#include "ui/popover/PopoverWindow.hpp"
#include "ui/popover/SessionGateRow.hpp"
#include "ui/popover/UsageCreditsRow.hpp"
#include "ui/popover/WindowRow.hpp"
#include "ui/update/UpdateBanner.hpp"
#include "ui/widgets/LineLimitedLabel.hpp"
#include "ui/widgets/TextButton.hpp"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace meterly::ui {
namespace {

using Form = LimitsContent::Form;
using Stage = UpdateBannerContent::Stage;

bool shown(const QWidget* widget) {
    return !widget->isHidden();
}

TEST(PopoverView, LimitsSectionTakesOneOfThreeForms) {
    PopoverView view({});
    auto content = samples::busyAfternoon();
    view.setContent(content);
    EXPECT_FALSE(shown(view.notConnected()));
    EXPECT_FALSE(shown(view.waiting()));
    EXPECT_TRUE(shown(view.fiveHourRow()));
    EXPECT_TRUE(shown(view.sevenDayRow()));

    content.limits.form = Form::notConnected;
    view.setContent(content);
    EXPECT_TRUE(shown(view.notConnected()));
    EXPECT_FALSE(shown(view.fiveHourRow()));
    EXPECT_FALSE(shown(view.sevenDayRow()));
    // The rest still shows while not connected.
    EXPECT_TRUE(shown(view.sessionGate()));
    EXPECT_TRUE(shown(view.windowFill()));
    EXPECT_TRUE(shown(view.history()));

    content.limits.form = Form::waiting;
    content.limits.waiting = {"Waiting for data", "Limits appear after Claude Code makes its "
                                                  "next request."};
    view.setContent(content);
    EXPECT_TRUE(shown(view.waiting()));
    EXPECT_EQ(view.waiting()->content().title, "Waiting for data");

    content.limits.form = Form::windows;
    content.limits.windows.erase(content.limits.windows.begin());
    view.setContent(content);
    EXPECT_TRUE(shown(view.fiveHourRow()));
    EXPECT_EQ(view.fiveHourRow()->content().title, "Week");
    EXPECT_FALSE(shown(view.sevenDayRow()));
}

TEST(PopoverView, OptionalItemsShowOnlyWithTheirValues) {
    PopoverView view({});
    auto content = samples::busyAfternoon();
    content.windowFill->bars.resize(1);
    content.history.reset();
    content.sessionGate.reset();
    content.header.modelLine.reset();
    view.setContent(content);
    EXPECT_FALSE(shown(view.windowFill())); // one window is no chart
    EXPECT_FALSE(shown(view.history()));
    EXPECT_FALSE(shown(view.sessionGate()));
    EXPECT_FALSE(shown(view.header()->modelLine()));
    EXPECT_FALSE(shown(view.banner()));
    EXPECT_EQ(view.versionFooter()->text(), "v1.0.7");
}

TEST(PopoverView, RowsAreKeptAcrossUpdatesSoViewStateSurvives) {
    PopoverView view({});
    auto content = samples::busyAfternoon();
    view.setContent(content);
    view.show();
    WindowRow* row = view.fiveHourRow();
    TextButton* quit = view.header()->quitButton();
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(quit, &enter);
    ASSERT_TRUE(quit->isHovering());

    for (int tick = 0; tick < 3; ++tick) {
        content.limits.windows[0].resetsIn = QStringLiteral("resets in 2:41:0%1").arg(tick);
        view.setContent(content);
    }
    EXPECT_EQ(view.fiveHourRow(), row);
    EXPECT_EQ(row->content().resetsIn, "resets in 2:41:02");
    EXPECT_TRUE(quit->isHovering());
}

TEST(PopoverView, OutsideTextsStayPlain) {
    PopoverView view({});
    auto content = samples::busyAfternoon();
    content.header.modelLine = "<b>bold</b> & co";
    view.setContent(content);
    for (auto* label : view.findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    }
    EXPECT_TRUE(view.header()->modelLine()->text().startsWith("<b>bold</b>"));
}

TEST(PopoverView, ControlsCallTheirActions) {
    std::vector<std::string> calls;
    PopoverActions actions;
    actions.quit = [&] { calls.push_back("quit"); };
    actions.openSettings = [&] { calls.push_back("settings"); };
    actions.openSetup = [&] { calls.push_back("setup"); };
    actions.hideRunwayWarning = [&](PopoverActions::Window window) {
        calls.push_back(window == PopoverActions::Window::sevenDay ? "hide week" : "hide 5h");
    };
    bool installed = false;
    actions.openClaude = [&](std::function<void(bool)> done) {
        calls.push_back("claude");
        done(installed);
    };
    PopoverView view(actions);
    auto content = samples::busyAfternoon();
    view.setContent(content);
    view.header()->quitButton()->click();
    view.settingsButton()->click();
    view.sevenDayRow()->hideWarningButton()->click();
    view.credits()->openButton()->click();
    EXPECT_TRUE(view.credits()->notInstalled());
    installed = true;
    view.credits()->openButton()->click();
    EXPECT_FALSE(view.credits()->notInstalled());
    content.limits.form = Form::notConnected;
    view.setContent(content);
    view.notConnected()->actionButton()->click();
    EXPECT_EQ(calls, (std::vector<std::string>{"quit", "settings", "hide week", "claude", "claude",
                                               "setup"}));
}

TEST(PopoverView, IsTwoHundredFortyWideWithFourteenBetweenItems) {
    PopoverView view({});
    auto content = samples::busyAfternoon();
    content.banner = samples::updateOffer();
    view.setContent(content);
    view.show();
    view.adjustSize();
    EXPECT_EQ(view.width(), 240);
    EXPECT_EQ(view.header()->geometry().left(), 14);
    EXPECT_EQ(view.header()->geometry().top(), 14);
    EXPECT_EQ(view.banner()->geometry().top() - view.header()->geometry().bottom() - 1, 14);
    EXPECT_EQ(view.fiveHourRow()->geometry().top() - view.banner()->geometry().bottom() - 1, 14);
}

TEST(UpdateBanner, ActionAreaFollowsTheStage) {
    UpdateBanner banner;
    auto content = samples::updateOffer();
    banner.setContent(content);
    EXPECT_TRUE(shown(banner.idleArea()));
    EXPECT_TRUE(shown(banner.notesButton()));
    content.hasNotesURL = false;
    content.notes.reset();
    banner.setContent(content);
    EXPECT_FALSE(shown(banner.notesButton()));
    EXPECT_TRUE(shown(banner.updateButton()));

    content.stage = Stage::downloading;
    content.progress = 0.42;
    content.progressText = "Downloading 42%";
    banner.setContent(content);
    EXPECT_FALSE(shown(banner.idleArea()));
    EXPECT_TRUE(shown(banner.downloadArea()));

    content.stage = Stage::failed;
    content.failure = "The download didn't match its checksum.";
    banner.setContent(content);
    EXPECT_TRUE(shown(banner.failedArea()));
    EXPECT_FALSE(shown(banner.downloadArea()));
    EXPECT_TRUE(shown(banner.tryAgainButton()));
    EXPECT_TRUE(shown(banner.browserButton()));

    content.stage = Stage::installing;
    banner.setContent(content);
    EXPECT_TRUE(shown(banner.busyArea()));
    EXPECT_FALSE(shown(banner.failedArea()));
}

TEST(LineLimitedLabel, NotesStopAtThreeLines) {
    LineLimitedLabel label(3);
    label.setText(QString("word ").repeated(200));
    const auto lines = label.lines(190);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines.back().endsWith(QStringLiteral("…")));
    label.setText("short");
    EXPECT_EQ(label.lines(190), QStringList{"short"});
}

TEST(PopoverWindow, OpensOnTheFreeSideOfTheIconAndStaysOffItsPanel) {
    const QRect screen(0, 0, 1280, 800);
    const QSize size(240, 500);
    const QPoint pointer(300, 790);
    struct Case {
        const char* what;
        QRect anchor;
        QRect available;
        QPoint expected;
    };
    const Case cases[] = {
        {"top panel: below the icon, pushed left to stay on screen", QRect(1250, 4, 24, 24),
         QRect(0, 32, 1280, 768), QPoint(1040, 32)},
        {"bottom panel: above the icon", QRect(600, 772, 24, 24), QRect(0, 0, 1280, 768),
         QPoint(491, 268)},
        {"left panel: beside the icon, clear of the panel", QRect(8, 100, 24, 24),
         QRect(40, 0, 1240, 800), QPoint(40, 100)},
        {"right panel, lower half: beside the icon and off the panel, growing upwards",
         QRect(1248, 600, 24, 24), QRect(0, 0, 1240, 800), QPoint(1000, 124)},
        {"bottom panel reserving no room", QRect(600, 776, 24, 24), screen, QPoint(491, 272)},
        {"side panel reserving no room", QRect(4, 400, 24, 24), screen, QPoint(32, 0)},
        {"the pointer on a bottom panel: above it and above the panel", QRect(pointer, QSize(1, 1)),
         QRect(0, 0, 1280, 768), QPoint(180, 268)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PopoverWindow::placement(size, c.anchor, screen, c.available), c.expected)
            << c.what;
    }
    // Taller than the screen: its top stays visible.
    EXPECT_EQ(PopoverWindow::placement(QSize(240, 900), QRect(5, 5, 1, 1), screen, screen),
              QPoint(0, 0));
}

// With METERLY_SCREENSHOTS set to a folder, writes the popover in light and dark there.
TEST(PopoverView, Screenshots) {
    const char* folder = std::getenv("METERLY_SCREENSHOTS");
    if (folder == nullptr) {
        GTEST_SKIP() << "METERLY_SCREENSHOTS not set";
    }
    const QPalette original = QApplication::palette();
    for (const bool dark : {false, true}) {
        if (dark) {
            QPalette palette;
            palette.setColor(QPalette::Window, QColor(40, 40, 42));
            palette.setColor(QPalette::WindowText, Qt::white);
            QApplication::setPalette(palette);
        }
        PopoverView view({});
        auto content = samples::busyAfternoon();
        content.banner = samples::updateOffer();
        view.setContent(content);
        view.show();
        view.adjustSize();
        const auto path = std::filesystem::path(folder) /
                          (dark ? "popover-sample-dark.png" : "popover-sample-light.png");
        view.grab().save(QString::fromStdString(path.string()));
    }
    QApplication::setPalette(original);
}

} // namespace
} // namespace meterly::ui
