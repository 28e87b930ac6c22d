// The widget tests' entry: one QApplication on Qt's offscreen platform for every test.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // A fixed light palette and no desktop theme, whatever the machine's settings.
    ::setenv("QT_QPA_PLATFORMTHEME", "", 1);
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
