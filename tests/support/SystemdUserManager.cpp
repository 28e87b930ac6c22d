#include "support/SystemdUserManager.hpp"

#include "support/ChildProcess.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace meterly::testing {
namespace {

constexpr const char* managerBinary = "/lib/systemd/systemd";

// A unit the manager is asked to start and stop before anyone relies on it.
constexpr const char* smokeUnit = "meterly-test-smoke.service";

// How long one systemctl call may take before the manager counts as stuck.
constexpr const char* systemctlLimit = "20";

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// Run in a private mount namespace; $1 is the tools folder.
//
// A manager started by hand runs in the cgroup of whoever started it, and takes that for the root
// of its tree: managers side by side would then share their units' cgroups, and one stopping
// com.meterly.proxy.service would kill another's. So each first moves into a cgroup of its own, in
// every hierarchy that tracks processes (listed in $1/cgroups, to be removed afterwards).
//
// It gets its own /run/systemd, so that it takes the machine for one that systemd booted. Its
// services write to its log (there is no journal), and a unit of its own shows whether it can run
// a service at all.
std::string managerScript() {
    return std::string(R"(own=meterly-test-$$
while IFS=: read -r id controllers path; do
    case "$controllers" in
    name=systemd) root=/sys/fs/cgroup/systemd ;;
    '') root=$(awk '$3 == "cgroup2" { print $2; exit }' /proc/mounts) ;;
    *) continue ;;
    esac
    dir="$root${path%/}/$own"
    if [ -n "$root" ] && [ -d "$root$path" ] && mkdir "$dir" 2>/dev/null; then
        echo "$dir" >> "$1/cgroups"
        echo $$ > "$dir/cgroup.procs"
    fi
done < /proc/self/cgroup
set -e
mkdir -p /run/systemd
mount -t tmpfs tmpfs /run/systemd
mkdir /run/systemd/system /run/systemd/user /run/systemd/user.conf.d
printf '[Manager]\nDefaultStandardOutput=inherit\nDefaultStandardError=inherit\n' \
    > /run/systemd/user.conf.d/test.conf
printf '[Service]\nExecStart=/bin/sleep 600\n' > /run/systemd/user/)") +
           smokeUnit + "\nexec " + managerBinary + " --user\n";
}

// Removes the cgroups the manager's script made, deepest first (what is still busy stays).
void removeCgroups(const std::filesystem::path& list) {
    std::ifstream in(list);
    std::string top;
    while (std::getline(in, top)) {
        std::vector<std::filesystem::path> folders{top};
        std::error_code error;
        for (std::filesystem::recursive_directory_iterator it(top, error), end; !error && it != end;
             it.increment(error)) {
            if (it->is_directory(error)) {
                folders.push_back(it->path());
            }
        }
        for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
            ::rmdir(folder->c_str());
        }
    }
}

std::string contentsOf(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::ostringstream contents;
    if (in) {
        contents << in.rdbuf();
    }
    return contents.str();
}

// Whether the child has ended, reaping it when it has.
bool ended(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

} // namespace

std::unique_ptr<SystemdUserManager> SystemdUserManager::start(const std::filesystem::path& home,
                                                              std::string& whyNot) {
    for (const char* needed :
         {managerBinary, "/usr/bin/unshare", "/usr/bin/nsenter", "/usr/bin/systemctl"}) {
        if (::access(needed, X_OK) != 0) {
            whyNot = std::string(needed) + " is not installed";
            return nullptr;
        }
    }
    std::unique_ptr<SystemdUserManager> manager(new SystemdUserManager());
    auto runtime = manager->runtime_.path();
    auto log = manager->tools_.path() / "manager.log";
    manager->pid_ =
        spawnLogged({"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c",
                     managerScript(), "sh", manager->tools_.path().string()},
                    {"HOME=" + home.string(), "XDG_RUNTIME_DIR=" + runtime.string(),
                     "PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin", "LANG=C.UTF-8"},
                    log);
    if (manager->pid_ < 0) {
        whyNot = "unshare could not be started";
        return nullptr;
    }

    manager->systemctl_ = manager->tools_.path() / "systemctl";
    {
        std::ofstream wrapper(manager->systemctl_);
        wrapper << "#!/bin/sh\n"
                << "XDG_RUNTIME_DIR=" << quoted(runtime.string()) << " exec /usr/bin/nsenter -t "
                << manager->pid_ << " -m -- /usr/bin/systemctl \"$@\"\n";
    }
    ::chmod(manager->systemctl_.c_str(), 0755);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ended(manager->pid_)) {
            manager->pid_ = -1;
            whyNot = "the user manager did not start: " + manager->log();
            return nullptr;
        }
        // 0: running; 1 with the manager up: degraded or still starting.
        if (std::filesystem::exists(runtime / "systemd/private") &&
            manager->run({"is-system-running", "--wait"}) <= 1) {
            if (manager->run({"start", smokeUnit}) != 0 ||
                manager->run({"is-active", smokeUnit}) != 0 ||
                manager->run({"stop", smokeUnit}) != 0) {
                whyNot = "the user manager cannot start and stop a service here: " +
                         manager->diagnostics(smokeUnit);
                return nullptr;
            }
            return manager;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    whyNot = "the user manager did not come up within 20 s: " + manager->log();
    return nullptr;
}

SystemdUserManager::~SystemdUserManager() {
    if (pid_ >= 0) {
        // The user manager stops its units on SIGTERM and then exits.
        ::kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (!ended(pid_) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            waitForExit(pid_);
        }
    }
    removeCgroups(tools_.path() / "cgroups");
}

int SystemdUserManager::run(const std::vector<std::string>& arguments) const {
    return run(arguments, tools_.path() / "systemctl.log");
}

int SystemdUserManager::run(const std::vector<std::string>& arguments,
                            const std::filesystem::path& output) const {
    std::vector<std::string> all{"/usr/bin/timeout",  "-k",    "5", systemctlLimit,
                                 systemctl_.string(), "--user"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runLogged(all, {"PATH=/usr/bin:/bin"}, output);
}

std::string SystemdUserManager::log() const {
    return contentsOf(tools_.path() / "manager.log");
}

std::string SystemdUserManager::diagnostics(const std::string& unit) const {
    const auto shown = tools_.path() / "show.txt";
    std::filesystem::remove(shown);
    run({"show", "--property=ActiveState,SubState,MainPID,Result", unit}, shown);
    const auto properties = contentsOf(shown);
    std::string text = "systemctl show " + unit + ":\n" + properties;
    // Where the unit's process is, when it has one: its state and what it waits in.
    const std::string key = "MainPID=";
    if (auto at = properties.find(key); at != std::string::npos) {
        auto pid = properties.substr(at + key.size(), properties.find('\n', at) - at - key.size());
        if (!pid.empty() && pid != "0") {
            const std::filesystem::path process = "/proc/" + pid;
            text += "process " + pid + " waits in: " + contentsOf(process / "wchan") + "\n";
            text += contentsOf(process / "status");
        }
    }
    auto managerLog = log();
    constexpr std::size_t tail = 8000;
    if (managerLog.size() > tail) {
        managerLog = "...\n" + managerLog.substr(managerLog.size() - tail);
    }
    return text + "manager log:\n" + managerLog + "systemctl log:\n" +
           contentsOf(tools_.path() / "systemctl.log");
}

} // namespace meterly::testing
