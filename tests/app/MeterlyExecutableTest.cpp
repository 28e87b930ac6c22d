// The meterly executable itself, started as a child process with a temporary home.
#include "app/AppRole.hpp"
#include "app/InstanceLock.hpp"
#include "support/ChildProcess.hpp"
#include "support/FakeExecutable.hpp"
#include "support/FakeNotifySend.hpp"
#include "support/HTTPTestMessages.hpp"
#include "support/StoredDefaults.hpp"
#include "support/TempDir.hpp"
#include "support/TestImage.hpp"

#include <arpa/inet.h>
#include <charconv>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace meterly::testing {
namespace {

using namespace std::chrono_literals;

// A listening socket on 127.0.0.1 that holds a port for as long as it lives.
class HeldPort {
public:
    HeldPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(fd_, 1), 0);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~HeldPort() { ::close(fd_); }
    std::uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// A port that was free a moment ago.
std::uint16_t freePort() {
    return HeldPort().port();
}

// One request on a fresh connection; the response as read.
std::optional<HTTPMessage> ask(std::uint16_t port, const std::string& method,
                               const std::string& target) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    MessageReader reader(
        [fd](char* data, std::size_t size) -> long { return ::recv(fd, data, size, 0); });
    auto response = reader.readResponse(method);
    ::close(fd);
    return response;
}

class MeterlyExecutableTest : public ::testing::Test {
protected:
    // A minimal environment whose home is the temporary folder, with the given variables on top
    // and the programs in `tools` (when given) found ahead of the system's.
    std::vector<std::string> minimalEnvironment(std::vector<std::string> variables = {},
                                                const std::filesystem::path& tools = {}) const {
        std::vector<std::string> environment = {
            "HOME=" + home_.path().string(),
            "XDG_CONFIG_HOME=" + (home_.path() / ".config").string(),
            "XDG_RUNTIME_DIR=" + runtime_.path().string(),
            "PATH=" + (tools.empty() ? std::string() : tools.string() + ":") + "/usr/bin:/bin",
            "ASAN_OPTIONS=detect_leaks=0",
        };
        environment.insert(environment.end(), variables.begin(), variables.end());
        return environment;
    }

    // Starts meterly with the given arguments after the program name and the given variables on
    // top of the minimal environment.
    std::unique_ptr<ChildProcess> start(std::vector<std::string> arguments,
                                        std::vector<std::string> variables = {}) {
        arguments.insert(arguments.begin(), METERLY_EXECUTABLE);
        return std::make_unique<ChildProcess>(arguments, minimalEnvironment(std::move(variables)));
    }

    void writeSettingsPort(std::uint16_t port) {
        home_.write(".claude/settings.json", R"({"env":{"ANTHROPIC_BASE_URL":"http://127.0.0.1:)" +
                                                 std::to_string(port) + R"("}})");
    }

    // The port named by a listening line, or nullopt for any other line.
    static std::optional<std::uint16_t> listeningPort(const std::optional<std::string>& line) {
        static constexpr std::string_view prefix = "Meterly proxy listening on 127.0.0.1:";
        if (!line || !line->starts_with(prefix) || !line->ends_with("\n")) {
            return std::nullopt;
        }
        const std::string_view digits =
            std::string_view(*line).substr(prefix.size(), line->size() - prefix.size() - 1);
        std::uint16_t port = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), port);
        if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size()) {
            return std::nullopt;
        }
        return port;
    }

    // Waits (real time, at most `limit`) until the launch counter in the preferences reads `value`.
    bool waitForLaunchCounter(std::int64_t value, std::chrono::seconds limit) const {
        const auto counter = [&] {
            return testing::storedInteger(home_.path(), "meterly.launch.incomplete");
        };
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (counter() != value) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }

    TempDir home_;
    TempDir runtime_;
};

TEST_F(MeterlyExecutableTest, ListensOnThePortTheSystemChoosesAndAnswersItsOwnRoutes) {
    auto proxy = start({"--proxy", "--port", "0"});
    auto port = listeningPort(proxy->readErrorLine(20s));
    ASSERT_TRUE(port.has_value());
    ASSERT_NE(*port, 0);

    auto health = ask(*port, "HEAD", "/api/hello");
    ASSERT_TRUE(health.has_value());
    EXPECT_EQ(health->status(), 200);
    EXPECT_TRUE(health->body.empty());

    auto status = ask(*port, "GET", "/__meterly/status");
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->status(), 200);
    auto document = nlohmann::json::parse(status->body);
    EXPECT_EQ(document.at("requestsSeen"), 0);

    proxy->kill(SIGTERM);
    EXPECT_EQ(proxy->wait(), 128 + SIGTERM);
}

TEST_F(MeterlyExecutableTest, APortInUseGivesTheBindFailureLineAndStatusOne) {
    HeldPort held;
    auto proxy = start({"--proxy", "--port", std::to_string(held.port())});
    EXPECT_EQ(proxy->readErrorToEnd(), "Meterly proxy failed to bind port " +
                                           std::to_string(held.port()) +
                                           ": network(addressInUse)\n");
    EXPECT_EQ(proxy->wait(), 1);
}

TEST_F(MeterlyExecutableTest, PortComesFromTheArgumentThenTheVariableThenTheSettings) {
    const auto argumentPort = freePort();
    const auto variablePort = freePort();
    const auto settingsPort = freePort();
    writeSettingsPort(settingsPort);
    const std::string variable = "METERLY_PORT=" + std::to_string(variablePort);
    struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> variables;
        std::uint16_t expected;
    };
    const std::vector<Case> cases = {
        {{"--proxy", "--port", std::to_string(argumentPort)}, {variable}, argumentPort},
        {{"--proxy", "--port", "70000"}, {variable}, variablePort},
        {{"--proxy", "--port"}, {"METERLY_PORT="}, settingsPort},
        {{"--proxy"}, {"METERLY_PORT=abc"}, settingsPort},
    };
    for (const auto& c : cases) {
        auto proxy = start(c.arguments, c.variables);
        EXPECT_EQ(listeningPort(proxy->readErrorLine(20s)), c.expected)
            << ::testing::PrintToString(c.arguments) << ::testing::PrintToString(c.variables);
    }
}

TEST_F(MeterlyExecutableTest, WithNoPortAnywhereTheInstallationDefaultIsUsed) {
    // The default port may be taken on this machine; either line names it.
    for (const auto& [variables, port] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{}, "8787"}, {{"METERLY_INSTALL=dev"}, "8900"}}) {
        auto proxy = start({"--proxy"}, variables);
        auto line = proxy->readErrorLine(20s);
        ASSERT_TRUE(line.has_value());
        EXPECT_TRUE(*line == "Meterly proxy listening on 127.0.0.1:" + port + "\n" ||
                    line->rfind("Meterly proxy failed to bind port " + port + ": ", 0) == 0)
            << *line;
    }
}

TEST_F(MeterlyExecutableTest, WithoutADisplayTheAppRoleSaysSoInOneLineAndIsNotCounted) {
    home_.write(".config/meterly/defaults.json", R"({"meterly.launch.incomplete": 2})");
    for (const auto& variables :
         std::vector<std::vector<std::string>>{{}, {"DISPLAY=", "WAYLAND_DISPLAY="}}) {
        auto app = start({"--port", "9999"}, variables);
        EXPECT_EQ(app->readErrorToEnd(), app::AppRole::noDisplayLine);
        EXPECT_EQ(app->wait(), 1);
    }
    EXPECT_EQ(nlohmann::json::parse(home_.read(".config/meterly/defaults.json"))
                  .at("meterly.launch.incomplete"),
              2);
}

TEST_F(MeterlyExecutableTest, ASecondCopyOfTheAppRoleExitsWithALine) {
    // The first copy is this test, holding the installation's lock.
    auto lock = app::InstanceLock::acquire(runtime_.path() / "meterly-production.lock", 0);
    ASSERT_TRUE(lock && lock->holdsLock());
    auto second = start({});
    EXPECT_EQ(second->readErrorToEnd(), "Meterly is already running; this copy exits.\n");
    EXPECT_EQ(second->wait(), 1);

    // Another installation has a lock of its own: that copy goes on (and, without a display,
    // stops at the next step).
    auto development = start({}, {"METERLY_INSTALL=dev"});
    EXPECT_EQ(development->readErrorToEnd(), app::AppRole::noDisplayLine);
    EXPECT_EQ(development->wait(), 1);
}

TEST_F(MeterlyExecutableTest, AfterThreeLaunchesThatGotNowhereThePreviousVersionIsStartedAgain) {
    // The installed bundle runs this build; the kept copy is a small program that leaves a mark.
    const auto applications = home_.path() / "Applications";
    const auto executable = applications / "Meterly.app/Contents/MacOS/meterly";
    writeBundle(applications / "Meterly.app", "app.meterly", "1.1", "");
    std::filesystem::remove(executable);
    std::error_code linked;
    std::filesystem::create_hard_link(METERLY_EXECUTABLE, executable, linked);
    if (linked) {
        std::filesystem::copy_file(METERLY_EXECUTABLE, executable);
    }
    writeBundle(applications / ".meterly-previous-Meterly.app", "app.meterly", "1.0.7",
                "#!/bin/sh\nprintf '%s' \"$0\" > \"$HOME/started.tmp\"\n"
                "mv \"$HOME/started.tmp\" \"$HOME/started\"\n");
    home_.write(".config/meterly/defaults.json", R"({"meterly.launch.incomplete": 3})");
    // The proxy's unit is installed: it is restarted to run the restored executable.
    TempDir tools;
    FakeExecutable systemctl(tools.path(), "systemctl");

    // A display to start on (the recovery comes before any window).
    const auto environment = minimalEnvironment({"QT_QPA_PLATFORM=offscreen"}, tools.path());
    ChildProcess app({executable.string()}, environment);
    EXPECT_EQ(app.readErrorToEnd(),
              "Meterly: three launches got nowhere; the previous version has been put back.\n");
    EXPECT_EQ(app.wait(), 0);
    EXPECT_EQ(nlohmann::json::parse(home_.read(".config/meterly/defaults.json"))
                  .at("meterly.launch.incomplete"),
              0);
    EXPECT_FALSE(std::filesystem::exists(applications / ".meterly-previous-Meterly.app"));

    // The restored executable starts a second later, detached.
    const auto started = home_.path() / "started";
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!std::filesystem::exists(started) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(std::filesystem::exists(started));
    EXPECT_EQ(home_.read("started"), executable.string());
    EXPECT_EQ(systemctl.calls(),
              (std::vector<std::string>{"--user is-enabled com.meterly.proxy.service",
                                        "--user daemon-reload",
                                        "--user restart com.meterly.proxy.service"}));
}

TEST_F(MeterlyExecutableTest, ALaunchThatReachesTheEventLoopClearsTheCounter) {
    // Two launches got nowhere; this one is counted (no recovery is due at 2) and, once the tray
    // app runs, cleared, even on a platform with no tray at all.
    home_.write(".config/meterly/defaults.json", R"({"meterly.launch.incomplete": 2})");
    auto app = start({"--port", "9"}, {"QT_QPA_PLATFORM=offscreen"});
    EXPECT_TRUE(waitForLaunchCounter(0, 20s));
    app->kill(SIGTERM);
    app->wait();
}

TEST_F(MeterlyExecutableTest, TheCopyRelaunchedAfterAnUpdateStartsWhileTheOldOneIsSlowToEnd) {
    // The installed bundle's executable notes its process id and runs this build.
    const auto bundle = home_.path() / "Applications/Meterly.app";
    const auto pidFile = home_.path() / "relaunched.pid";
    writeBundle(bundle, "app.meterly", "1.1",
                "#!/bin/sh\necho $$ > '" + pidFile.string() + ".tmp'\nmv '" + pidFile.string() +
                    ".tmp' '" + pidFile.string() + "'\nexec '" METERLY_EXECUTABLE "' --port 9\n");
    // The proxy's unit is not installed: only the app comes back.
    TempDir tools;
    FakeExecutable systemctl(tools.path(), "systemctl");
    systemctl.answer("is-enabled", {1});
    const auto environment = minimalEnvironment({"QT_QPA_PLATFORM=offscreen"}, tools.path());
    // The old copy hands over, then does not end until it is killed.
    ChildProcess old({METERLY_OLD_COPY, bundle.string()}, environment);

    // The new copy reaches its event loop all the same (its launch counter goes back to 0).
    const bool started = waitForLaunchCounter(0, 60s);
    if (std::filesystem::exists(pidFile)) {
        const int pid = std::stoi(home_.read(pidFile));
        ::kill(pid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (!processGone(pid) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(50ms);
        }
        if (!processGone(pid)) {
            ::kill(pid, SIGKILL);
        }
    }
    EXPECT_TRUE(started) << "the relaunched copy gave up while the old one was ending";
    old.kill(SIGTERM);
    old.wait();
}

} // namespace
} // namespace meterly::testing
