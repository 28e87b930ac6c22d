// The entry of the placement tests: Qt's offscreen platform with the screens that
// ScreenLayout.hpp describes, on a fixed light palette.
#include "ScreenLayout.hpp"

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

int main(int argc, char** argv) {
    std::stringstream screens;
    const char* separator = "";
    for (const auto& screen : meterly::ui::testScreens) {
        screens << separator << R"({"name": ")" << screen.name << R"(", "x": )" << screen.x
                << R"(, "y": )" << screen.y << R"(, "width": )" << screen.width << R"(, "height": )"
                << screen.height << R"(, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1})";
        separator = ", ";
    }
    const auto config = std::filesystem::temp_directory_path() /
                        ("meterly-screens-" + std::to_string(::getpid()) + ".json");
    {
        std::ofstream out(config);
        out << R"({"synchronousWindowSystemEvents": false, "windowFrameMargins": false, )"
            << R"("screens": [)" << screens.str() << "]}";
    }
    const std::string platform = "offscreen:configfile=" + config.string();
    ::setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
    ::setenv("QT_QPA_PLATFORMTHEME", "", 1);
    QApplication application(argc, argv);
    std::filesystem::remove(config);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
