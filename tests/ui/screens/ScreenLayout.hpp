#pragma once

#include <array>

namespace meterly::ui {

struct TestScreen {
    const char* name;
    int x;
    int y;
    int width;
    int height;
};

// A laptop screen with a larger one to its right and a small one below it.
inline constexpr std::array<TestScreen, 3> testScreens{{
    {"laptop", 0, 0, 1280, 800},
    {"monitor", 1280, 0, 1920, 1080},
    {"small", 0, 800, 1024, 768},
}};

} // namespace meterly::ui
