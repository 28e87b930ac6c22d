#include "support/VirtualDesktop.hpp"

#include "support/ArgumentVector.hpp"
#include "support/BackgroundProgram.hpp"
#include "support/PrivateSessionBus.hpp"
#include "support/TempDir.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace meterly::testing {
namespace {

// The tail of a helper program's log, for the message of a failed start.
std::string readLog(const std::filesystem::path& log) {
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    return all.size() > 2000 ? all.substr(all.size() - 2000) : all;
}

using namespace std::chrono_literals;

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (!folder.empty() && ::access((folder + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> withoutDesktopVariables(std::vector<std::string> entries) {
    std::erase_if(entries, [](const std::string& entry) {
        for (const char* name : {"DISPLAY=", "WAYLAND_DISPLAY=", "DBUS_SESSION_BUS_ADDRESS=",
                                 "XAUTHORITY=", "QT_QPA_PLATFORM="}) {
            if (entry.starts_with(name)) {
                return true;
            }
        }
        return false;
    });
    return entries;
}

std::vector<std::string> inheritedEnvironment() {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        entries.emplace_back(*entry);
    }
    return entries;
}

} // namespace

struct VirtualDesktop::Impl {
    TempDir folder{"meterly-desktop"};
    BackgroundProgram xvfb;
    std::unique_ptr<PrivateSessionBus> bus;
    BackgroundProgram tray;
    Tray trayKind = Tray::none;
    std::string trayTint;

    ~Impl() {
        tray.stop();
        bus.reset();
        xvfb.stop();
    }
};

bool VirtualDesktop::available(Tray tray) {
    for (const char* program : {"Xvfb", "dbus-daemon", "xdotool", "import", "xwininfo"}) {
        if (!onPath(program)) {
            return false;
        }
    }
    switch (tray) {
    case Tray::none:
        return true;
    case Tray::xembed:
        return onPath("trayer");
    case Tray::statusNotifier:
        return onPath("gtk-sni-tray-standalone");
    }
    return false;
}

VirtualDesktop::VirtualDesktop(Options options) : impl_(std::make_unique<Impl>()) {
    const auto& folder = impl_->folder.path();
    const auto base = withoutDesktopVariables(inheritedEnvironment());

    const std::string screen =
        std::to_string(options.width) + "x" + std::to_string(options.height) + "x24";
    impl_->xvfb.start(
        {"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, base,
        folder / "xvfb.log", true);
    auto number = impl_->xvfb.readReport(15s);
    if (!number || number->empty()) {
        throw std::runtime_error("Xvfb did not report a display");
    }
    display_ = ":" + *number;

    impl_->bus = std::make_unique<PrivateSessionBus>();
    busAddress_ = impl_->bus->address();

    impl_->trayKind = options.tray;
    impl_->trayTint = options.trayTint;
    startTray();
}

void VirtualDesktop::restartTray() {
    impl_->tray.stop();
    startTray();
}

void VirtualDesktop::startTray() {
    const auto& folder = impl_->folder.path();
    const auto env = environment(withoutDesktopVariables(inheritedEnvironment()));
    switch (impl_->trayKind) {
    case Tray::none:
        break;
    case Tray::xembed: {
        const std::vector<std::string> trayerArguments = {
            "trayer",       "--edge",        "top",  "--align",       "right", "--widthtype",
            "request",      "--height",      "24",   "--SetDockType", "true",  "--expand",
            "true",         "--transparent", "true", "--alpha",       "0",     "--tint",
            impl_->trayTint};
        impl_->tray.start(trayerArguments, env, folder / "tray.log", false);
        int restarts = 0;
        for (int attempt = 0;; ++attempt) {
            try {
                run({"xdotool", "search", "--class", "trayer"});
                break;
            } catch (const std::runtime_error&) {
                if (!impl_->tray.running() && restarts < 3) {
                    // A tray host can lose its race with a display or bus under heavy load:
                    // start it again rather than fail the whole desktop.
                    ++restarts;
                    impl_->tray.start(trayerArguments, env, folder / "tray.log", false);
                } else if (attempt == 100 || !impl_->tray.running()) {
                    throw std::runtime_error("trayer did not start: " +
                                             readLog(folder / "tray.log"));
                }
                std::this_thread::sleep_for(100ms);
            }
        }
        break;
    }
    case Tray::statusNotifier: {
        const std::vector<std::string> hostArguments = {"gtk-sni-tray-standalone", "--watcher",
                                                        "--top", "--end"};
        impl_->tray.start(hostArguments, env, folder / "tray.log", false);
        // gtk-sni-tray-standalone sometimes takes the watcher's name and then dies at once (it
        // calls its own watcher before that object is exported): the host counts as up once it
        // has held the name for half a second, and one that died is started again.
        int restarts = 0;
        int held = 0;
        for (int attempt = 0;; ++attempt) {
            const auto reply =
                run({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                     "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                     "string:org.kde.StatusNotifierWatcher"});
            held = reply.find("boolean true") != std::string::npos && impl_->tray.running()
                       ? held + 1
                       : 0;
            if (held == 5) {
                break;
            }
            if (!impl_->tray.running() && restarts < 5) {
                ++restarts;
                impl_->tray.start(hostArguments, env, folder / "tray.log", false);
            } else if (attempt == 100 || !impl_->tray.running()) {
                throw std::runtime_error("gtk-sni-tray-standalone did not start its watcher: " +
                                         readLog(folder / "tray.log"));
            }
            std::this_thread::sleep_for(100ms);
        }
        break;
    }
    }
}

VirtualDesktop::~VirtualDesktop() = default;

const std::filesystem::path& VirtualDesktop::folder() const {
    return impl_->folder.path();
}

std::vector<std::string> VirtualDesktop::environment(std::vector<std::string> base) const {
    auto entries = withoutDesktopVariables(std::move(base));
    entries.push_back("DISPLAY=" + display_);
    entries.push_back("DBUS_SESSION_BUS_ADDRESS=" + busAddress_);
    return entries;
}

std::string VirtualDesktop::run(const std::vector<std::string>& arguments) const {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const auto log = folder() / "commands.log";
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    const auto env = environment(inheritedEnvironment());
    auto argv = argumentPointers(arguments);
    auto envp = argumentPointers(env);
    pid_t pid = -1;
    const int result = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (result != 0) {
        ::close(fds[0]);
        throw std::runtime_error("cannot start " + arguments.front());
    }
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(arguments.front() + " failed");
    }
    return output;
}

void VirtualDesktop::screenshot(const std::filesystem::path& png) const {
    run({"import", "-window", "root", png.string()});
}

std::vector<VirtualDesktop::Rgb> VirtualDesktop::pixels(const std::filesystem::path& png, int x,
                                                        int y, int width, int height) const {
    const std::string crop = std::to_string(width) + "x" + std::to_string(height) + "+" +
                             std::to_string(x) + "+" + std::to_string(y);
    const std::string raw =
        run({"convert", png.string(), "-crop", crop, "+repage", "-depth", "8", "rgb:-"});
    std::vector<Rgb> result;
    for (std::size_t i = 0; i + 2 < raw.size(); i += 3) {
        result.push_back({static_cast<unsigned char>(raw[i]),
                          static_cast<unsigned char>(raw[i + 1]),
                          static_cast<unsigned char>(raw[i + 2])});
    }
    return result;
}

void VirtualDesktop::click(int x, int y, int button) const {
    run({"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y), "click",
         std::to_string(button)});
}

namespace {

std::optional<VirtualDesktop::Window> describe(const VirtualDesktop& desktop,
                                               const std::string& id) {
    VirtualDesktop::Window window;
    window.id = id;
    try {
        std::stringstream shell(desktop.run({"xdotool", "getwindowgeometry", "--shell", id}));
        std::string line;
        while (std::getline(shell, line)) {
            const auto eq = line.find('=');
            if (eq == std::string::npos) {
                continue;
            }
            const std::string key = line.substr(0, eq);
            const int value = std::atoi(line.c_str() + eq + 1);
            if (key == "X") {
                window.x = value;
            } else if (key == "Y") {
                window.y = value;
            } else if (key == "WIDTH") {
                window.width = value;
            } else if (key == "HEIGHT") {
                window.height = value;
            }
        }
        window.name = desktop.run({"xdotool", "getwindowname", id});
        while (!window.name.empty() && window.name.back() == '\n') {
            window.name.pop_back();
        }
    } catch (const std::runtime_error&) {
        return std::nullopt; // gone meanwhile
    }
    return window;
}

} // namespace

std::vector<VirtualDesktop::Window> VirtualDesktop::windows(const std::string& pattern) const {
    std::vector<Window> found;
    std::string ids;
    try {
        ids = run({"xdotool", "search", "--onlyvisible", "--name", pattern});
    } catch (const std::runtime_error&) {
        return found; // xdotool exits with 1 when nothing matches
    }
    std::stringstream lines(ids);
    std::string id;
    while (std::getline(lines, id)) {
        if (auto window = describe(*this, id)) {
            found.push_back(*window);
        }
    }
    return found;
}

std::optional<VirtualDesktop::Window>
VirtualDesktop::waitForWindow(const std::string& pattern, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        auto found = windows(pattern);
        if (!found.empty()) {
            return found.front();
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(100ms);
    }
}

std::vector<VirtualDesktop::Window> VirtualDesktop::trayIcons() const {
    std::vector<Window> icons;
    std::string ids;
    try {
        ids = run({"xdotool", "search", "--class", "trayer"});
    } catch (const std::runtime_error&) {
        return icons;
    }
    // xwininfo lists each child as: 0x1234 "name": ("res" "class")  22x22+0+0  +1258+1
    std::stringstream lines(ids);
    std::string id;
    while (std::getline(lines, id)) {
        std::string tree;
        try {
            tree = run({"xwininfo", "-children", "-id", id});
        } catch (const std::runtime_error&) {
            continue;
        }
        std::stringstream rows(tree);
        std::string row;
        while (std::getline(rows, row)) {
            const auto start = row.find_first_not_of(' ');
            if (start == std::string::npos || row.compare(start, 2, "0x") != 0) {
                continue;
            }
            std::stringstream fields(row.substr(start));
            std::string word;
            std::vector<std::string> words;
            while (fields >> word) {
                words.push_back(word);
            }
            // The last two words: "<w>x<h>+<x>+<y>" relative, then "+<x>+<y>" on the screen.
            if (words.size() < 3) {
                continue;
            }
            int width = 0;
            int height = 0;
            int x = 0;
            int y = 0;
            char by = 0;
            const auto& size = words[words.size() - 2];
            const auto& place = words.back();
            if (std::sscanf(size.c_str(), "%d%c%d", &width, &by, &height) != 3 || by != 'x' ||
                std::sscanf(place.c_str(), "%d%d", &x, &y) != 2) {
                continue;
            }
            Window icon;
            icon.id = words.front();
            icon.width = width;
            icon.height = height;
            icon.x = x;
            icon.y = y;
            if (icon.width > 1 && icon.height > 1) {
                icons.push_back(icon);
            }
        }
    }
    std::sort(icons.begin(), icons.end(),
              [](const Window& a, const Window& b) { return a.x < b.x; });
    return icons;
}

} // namespace meterly::testing
