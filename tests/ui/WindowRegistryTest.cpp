#include "ui/scene/WindowRegistry.hpp"

#include <QLabel>
#include <gtest/gtest.h>

namespace meterly::ui {
namespace {

QLabel* visibleNotice(QWidget* window) {
    for (auto* label : window->findChildren<QLabel*>()) {
        if (!label->isHidden() && label->objectName().isEmpty()) {
            return label;
        }
    }
    return nullptr;
}

TEST(WindowRegistry, OpensEachWindowOnceByIdentifier) {
    WindowRegistry windows;
    int made = 0;
    windows.add(WindowRegistry::settingsID, "Settings", [&] {
        ++made;
        auto* content = new QLabel("panes");
        content->setObjectName("content");
        return content;
    });
    EXPECT_EQ(windows.window(WindowRegistry::settingsID), nullptr);
    EXPECT_EQ(windows.open("meterly.unknown"), nullptr);

    QWidget* first = windows.open(WindowRegistry::settingsID);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowTitle(), "Settings");
    EXPECT_EQ(first->objectName(), "meterly.settings");
    EXPECT_NE(first->findChild<QLabel*>("content"), nullptr);
    first->hide();
    EXPECT_EQ(windows.open(WindowRegistry::settingsID), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(made, 1);
}

TEST(WindowRegistry, NoticeLineShowsAsPlainTextAndGoesAgain) {
    WindowRegistry windows;
    windows.add(WindowRegistry::setupID, "Set up Meterly", {});
    QWidget* window = windows.open(WindowRegistry::setupID, QStringLiteral("No <b>tray</b> here"));
    QLabel* notice = visibleNotice(window);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->text(), "No <b>tray</b> here");
    EXPECT_EQ(notice->textFormat(), Qt::PlainText);
    windows.open(WindowRegistry::setupID);
    EXPECT_EQ(visibleNotice(window), nullptr);
    EXPECT_GE(window->width(), WindowRegistry::minimumWidth);
}

} // namespace
} // namespace meterly::ui
