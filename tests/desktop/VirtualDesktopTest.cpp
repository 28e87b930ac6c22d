#include "support/TempDir.hpp"
#include "support/VirtualDesktop.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace meterly::testing {
namespace {

TEST(VirtualDesktop, XEmbedTrayComesUpEmptyAndScreenshotsWork) {
    if (!VirtualDesktop::available(VirtualDesktop::Tray::xembed)) {
        GTEST_SKIP() << "Xvfb, dbus-daemon, xdotool, ImageMagick or trayer missing";
    }
    VirtualDesktop desktop({.tray = VirtualDesktop::Tray::xembed, .width = 800, .height = 600});
    EXPECT_TRUE(desktop.display().starts_with(":"));
    EXPECT_NE(desktop.busAddress().find("unix:"), std::string::npos);
    EXPECT_TRUE(desktop.trayIcons().empty());

    const auto png = desktop.folder() / "screen.png";
    desktop.screenshot(png);
    EXPECT_GT(std::filesystem::file_size(png), 100u);
    const auto size = desktop.run({"identify", "-format", "%wx%h", png.string()});
    EXPECT_EQ(size, "800x600");

    const auto environment = desktop.environment({"HOME=/nonexistent", "DISPLAY=:99"});
    EXPECT_NE(std::find(environment.begin(), environment.end(), "DISPLAY=" + desktop.display()),
              environment.end());
    EXPECT_EQ(std::find(environment.begin(), environment.end(), "DISPLAY=:99"),
              environment.end());
}

TEST(VirtualDesktop, StatusNotifierWatcherOwnsItsNameOnThePrivateBus) {
    if (!VirtualDesktop::available(VirtualDesktop::Tray::statusNotifier)) {
        GTEST_SKIP() << "gtk-sni-tray-standalone missing";
    }
    VirtualDesktop desktop({.tray = VirtualDesktop::Tray::statusNotifier});
    const auto reply = desktop.run({"dbus-send", "--session", "--print-reply",
                                    "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                                    "org.freedesktop.DBus.NameHasOwner",
                                    "string:org.kde.StatusNotifierWatcher"});
    EXPECT_NE(reply.find("boolean true"), std::string::npos);
}

} // namespace
} // namespace meterly::testing
