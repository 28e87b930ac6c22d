// The real meterly executable on a virtual desktop with an XEmbed tray, polling a real status
// server on 127.0.0.1.
#include "support/ChildProcess.hpp"
#include "support/LocalHTTPServer.hpp"
#include "support/StoredDefaults.hpp"
#include "support/TempDir.hpp"
#include "support/VirtualDesktop.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

namespace meterly::testing {
namespace {

using namespace std::chrono_literals;

// Polls `condition` every 100 ms for up to `limit` (real time: the app runs on its own clock).
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

// The proxy's status endpoint with a five-hour utilization the test can change.
class StatusServer {
public:
    StatusServer()
        : server_([this](const std::string& head) -> std::optional<std::string> {
              if (head.rfind("GET /__meterly/status ", 0) != 0) {
                  return LocalHTTPServer::reply("HTTP/1.1 404 Not Found", "{}");
              }
              const double now = static_cast<double>(std::time(nullptr));
              const nlohmann::json document = {
                  {"available", true},
                  {"requestsSeen", 3},
                  {"lastRequestAt", now},
                  {"capturedAt", now},
                  {"fiveHour",
                   {{"status", "allowed"},
                    {"utilization", utilization.load()},
                    {"resetAt", now + 7200}}},
                  {"sevenDay",
                   {{"status", "allowed"}, {"utilization", 0.3}, {"resetAt", now + 200000}}},
              };
              return LocalHTTPServer::reply("HTTP/1.1 200 OK", document.dump());
          }) {}

    std::uint16_t port() const { return server_.port(); }
    std::atomic<double> utilization{0.2};

private:
    LocalHTTPServer server_;
};

// Unique names on a bus are numbered in the order their connections opened: the number of the
// newest one, read by a dbus-send that is itself a new connection.
int newestConnection(const VirtualDesktop& desktop) {
    const auto names =
        desktop.run({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                     "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames"});
    int newest = -1;
    for (auto at = names.find("\":1."); at != std::string::npos; at = names.find("\":1.", at + 1)) {
        newest = std::max(newest, std::atoi(names.c_str() + at + 4));
    }
    return newest;
}

// The process of the connection ":1.<number>"; none when it has closed.
std::optional<pid_t> connectionProcess(const VirtualDesktop& desktop, int number) {
    try {
        const auto reply =
            desktop.run({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                         "/org/freedesktop/DBus", "org.freedesktop.DBus.GetConnectionUnixProcessID",
                         "string::1." + std::to_string(number)});
        const auto at = reply.find("uint32 ");
        if (at != std::string::npos) {
            return static_cast<pid_t>(std::atol(reply.c_str() + at + 7));
        }
    } catch (const std::runtime_error&) {
    }
    return std::nullopt;
}

bool itemRegistered(const VirtualDesktop& desktop) {
    const auto reply = desktop.run(
        {"dbus-send", "--session", "--print-reply", "--dest=org.kde.StatusNotifierWatcher",
         "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get",
         "string:org.kde.StatusNotifierWatcher", "string:RegisteredStatusNotifierItems"});
    return reply.find("string \"") != std::string::npos;
}

struct Inks {
    int green = 0;
    int red = 0;
};

// Counts the gauge's lit pixels by colour in the tray icon.
Inks inks(const VirtualDesktop& desktop, const VirtualDesktop::Window& icon,
          const std::string& png) {
    Inks counted;
    desktop.screenshot(png);
    for (const auto& pixel : desktop.pixels(png, icon.x, icon.y, icon.width, icon.height)) {
        if (pixel.green > 150 && pixel.red < 120 && pixel.blue < 140) {
            ++counted.green;
        } else if (pixel.red > 200 && pixel.green < 110 && pixel.blue < 110) {
            ++counted.red;
        }
    }
    return counted;
}

class TrayAppEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!VirtualDesktop::available(VirtualDesktop::Tray::xembed)) {
            GTEST_SKIP() << "Xvfb, dbus-daemon, xdotool, ImageMagick or trayer missing";
        }
    }

    void startDesktop(VirtualDesktop::Tray tray = VirtualDesktop::Tray::xembed) {
        desktop_ = std::make_unique<VirtualDesktop>(VirtualDesktop::Options{.tray = tray});
    }

    std::unique_ptr<ChildProcess> startApp(std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.begin(), METERLY_EXECUTABLE);
        const auto h = home_.path().string();
        return std::make_unique<ChildProcess>(
            arguments, desktop_->environment(
                           {"HOME=" + h, "XDG_CONFIG_HOME=" + h + "/.config",
                            "XDG_DATA_HOME=" + h + "/.local/share", "XDG_RUNTIME_DIR=" + h,
                            "XDG_DATA_DIRS=" + h + "/share", "PATH=/usr/bin:/bin", "LANG=C.UTF-8",
                            "TZ=UTC", "QT_QPA_PLATFORM=xcb", "ASAN_OPTIONS=detect_leaks=0"}));
    }

    void writeSettings(const std::string& json) { home_.write(".claude/settings.json", json); }

    std::optional<std::int64_t> launchCounter() const {
        return testing::storedInteger(home_.path(), "meterly.launch.incomplete");
    }

    // A screenshot's path; with METERLY_SCREENSHOTS set, keep() copies it to that folder.
    std::string shot(const std::string& name) const { return (home_.path() / name).string(); }
    void keep(const std::string& name) const {
        if (const char* folder = std::getenv("METERLY_SCREENSHOTS")) {
            std::filesystem::copy_file(shot(name), std::filesystem::path(folder) / name,
                                       std::filesystem::copy_options::overwrite_existing);
        }
    }

    TempDir home_{"meterly-e2e"};
    StatusServer status_;
    std::unique_ptr<VirtualDesktop> desktop_;
};

TEST_F(TrayAppEndToEndTest, TrayIconFollowsTheReadingAndOpensThePopover) {
    // Connected: the settings name the proxy's port, and the app follows it.
    startDesktop();
    writeSettings(R"({"env": {"ANTHROPIC_BASE_URL": "http://127.0.0.1:)" +
                  std::to_string(status_.port()) + R"("}})");
    auto app = startApp();

    std::vector<VirtualDesktop::Window> icons;
    ASSERT_TRUE(eventually([&] {
        icons = desktop_->trayIcons();
        return !icons.empty();
    })) << "no icon docked in the tray";
    const auto icon = icons.front();

    // 80 % left: green dots.
    EXPECT_TRUE(eventually([&] { return inks(*desktop_, icon, shot("green.png")).green > 10; }));
    keep("green.png");
    // 10 % left: the ring turns red.
    status_.utilization = 0.9;
    EXPECT_TRUE(eventually([&] {
        const auto counted = inks(*desktop_, icon, shot("red.png"));
        return counted.red > 10 && counted.green == 0;
    }));
    keep("red.png");

    // The launch counted at start is back to 0 once the tray is reached.
    EXPECT_TRUE(eventually([&] { return launchCounter() == 0; }));
    // Configured: no setup window.
    EXPECT_TRUE(desktop_->windows("^Set up Meterly$").empty());

    desktop_->click(icon.x + icon.width / 2, icon.y + icon.height / 2);
    auto popover = desktop_->waitForWindow("^Meterly$", 10s);
    ASSERT_TRUE(popover) << "the popover did not open";
    EXPECT_EQ(popover->width, 240);
    // Under the icon, on the screen.
    EXPECT_GE(popover->y, icon.y + icon.height);
    EXPECT_LE(popover->x + popover->width, 1280);
    desktop_->screenshot(shot("popover.png"));
    keep("popover.png");

    // A session ending: the app leaves its event loop and exits cleanly.
    app->kill(SIGTERM);
    EXPECT_EQ(app->wait(), 0);
}

TEST_F(TrayAppEndToEndTest, SetupWindowOpensOnlyWithoutABaseURL) {
    startDesktop();
    writeSettings(R"({"env": {}})");
    auto app = startApp({"--port", std::to_string(status_.port())});
    EXPECT_TRUE(desktop_->waitForWindow("^Set up Meterly$", 20s).has_value());
    desktop_->screenshot(shot("setup.png"));
    keep("setup.png");
    EXPECT_TRUE(eventually([&] { return !desktop_->trayIcons().empty(); }));
    EXPECT_TRUE(eventually([&] { return launchCounter() == 0; }));
    app->kill(SIGTERM);
    app->wait();
}

TEST_F(TrayAppEndToEndTest, StatusNotifierHostShowsTheItemAndTheIdleAppOpensNoBusConnections) {
    if (!VirtualDesktop::available(VirtualDesktop::Tray::statusNotifier)) {
        GTEST_SKIP() << "gtk-sni-tray-standalone missing";
    }
    startDesktop(VirtualDesktop::Tray::statusNotifier);
    writeSettings(R"({"env": {"ANTHROPIC_BASE_URL": "http://127.0.0.1:)" +
                  std::to_string(status_.port()) + R"("}})");
    auto app = startApp();
    EXPECT_TRUE(eventually([&] { return itemRegistered(*desktop_); }))
        << "the item did not register with the watcher";
    EXPECT_TRUE(eventually([&] { return launchCounter() == 0; }));

    // Idle for three times the span at which the tray used to be asked about again: no
    // connection opens and closes, and none of the app's stays (the host may open one).
    const int before = newestConnection(*desktop_);
    std::this_thread::sleep_for(6s);
    const int after = newestConnection(*desktop_);
    for (int n = before + 1; n < after; ++n) {
        const auto owner = connectionProcess(*desktop_, n);
        EXPECT_TRUE(owner.has_value() && *owner != app->pid()) << "a new connection :1." << n;
    }

    // The panel restarts: the item registers with the new watcher.
    desktop_->restartTray();
    EXPECT_TRUE(eventually([&] { return itemRegistered(*desktop_); }))
        << "the item did not come back after the host restarted";
    app->kill(SIGTERM);
    app->wait();
}

TEST_F(TrayAppEndToEndTest, ARestartedXEmbedTrayGetsTheIconBack) {
    startDesktop();
    writeSettings(R"({"env": {"ANTHROPIC_BASE_URL": "http://127.0.0.1:)" +
                  std::to_string(status_.port()) + R"("}})");
    auto app = startApp();
    ASSERT_TRUE(eventually([&] { return !desktop_->trayIcons().empty(); }));
    desktop_->restartTray();
    EXPECT_TRUE(eventually([&] { return !desktop_->trayIcons().empty(); }))
        << "no icon docked in the restarted tray";
    app->kill(SIGTERM);
    app->wait();
}

} // namespace
} // namespace meterly::testing
