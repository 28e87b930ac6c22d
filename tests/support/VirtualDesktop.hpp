#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace meterly::testing {

// A desktop of its own for a whole-app test: an Xvfb server (the display number it picks
// itself), a private D-Bus session bus on which nothing starts by itself, and optionally a tray
// host. Everything is stopped when the desktop is destroyed. Tests run the app with
// environment() and look at it with screenshot(), windows() and click().
class VirtualDesktop {
public:
    enum class Tray {
        none,
        // trayer: the XEmbed system tray (_NET_SYSTEM_TRAY_S0), docked at the top right.
        xembed,
        // gtk-sni-tray-standalone --watcher: a StatusNotifierItem host and watcher on the bus.
        statusNotifier,
    };

    struct Options {
        Tray tray = Tray::xembed;
        int width = 1280;
        int height = 800;
        // Panel colour of the XEmbed tray (light or dark desktops).
        std::string trayTint = "0xe8e8e8";
    };

    // Throws std::runtime_error when a piece cannot start (its message names the piece).
    explicit VirtualDesktop(Options options);
    VirtualDesktop() : VirtualDesktop(Options{}) {}
    ~VirtualDesktop();
    VirtualDesktop(const VirtualDesktop&) = delete;
    VirtualDesktop& operator=(const VirtualDesktop&) = delete;

    // True when every program the desktop needs is installed (Xvfb, dbus-daemon, xdotool,
    // import and the chosen tray host).
    static bool available(Tray tray = Tray::xembed);

    // ":<n>".
    const std::string& display() const { return display_; }
    const std::string& busAddress() const { return busAddress_; }
    const std::filesystem::path& folder() const;

    // `base` (KEY=value entries) with DISPLAY and DBUS_SESSION_BUS_ADDRESS set to this desktop's,
    // and the display-related variables of the test's own session removed.
    std::vector<std::string> environment(std::vector<std::string> base = {}) const;

    // A PNG of the whole screen.
    void screenshot(const std::filesystem::path& png) const;

    struct Window {
        std::string id;
        std::string name;
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
    };
    // The mapped windows whose name matches `pattern` (a regular expression, xdotool's search).
    std::vector<Window> windows(const std::string& pattern) const;
    // Waits (real time, polling) until a mapped window matches; none when `limit` passes first.
    std::optional<Window> waitForWindow(const std::string& pattern,
                                        std::chrono::milliseconds limit) const;
    // Clicks the left (or another) button at a point of the screen.
    void click(int x, int y, int button = 1) const;
    // The icons docked in the XEmbed tray (children of trayer's window), left to right.
    std::vector<Window> trayIcons() const;

    struct Rgb {
        int red = 0;
        int green = 0;
        int blue = 0;
    };
    // The pixels of a rectangle of a screenshot, row by row.
    std::vector<Rgb> pixels(const std::filesystem::path& png, int x, int y, int width,
                            int height) const;

    // Stops the tray host and starts it again, as a panel that restarts.
    void restartTray();

    // Runs a program on this desktop and returns what it wrote to standard output; throws when it
    // exits with another status than 0.
    std::string run(const std::vector<std::string>& arguments) const;

private:
    void startTray();

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string display_;
    std::string busAddress_;
};

} // namespace meterly::testing
