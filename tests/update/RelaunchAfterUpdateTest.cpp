#include "update/RelaunchAfterUpdate.hpp"

#include "config/SystemdUserBackend.hpp"
#include "support/FakeExecutable.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/TempDir.hpp"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace meterly::update {
namespace {

using namespace std::chrono_literals;
using testing::FakeExecutable;
using testing::TempDir;

// Waits (real time, the child sleeps a second first) until `file` exists.
bool appears(const std::filesystem::path& file) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::filesystem::exists(file)) {
            return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

class RelaunchAfterUpdateTest : public ::testing::Test {
protected:
    std::shared_ptr<config::SystemdUserBackend> backend() const {
        return std::make_shared<config::SystemdUserBackend>(
            std::make_shared<config::PosixProcessRunner>(),
            [](std::string_view) { return std::optional<std::string>(); },
            systemctl.path().string());
    }
    RelaunchAfterUpdate relaunch(std::filesystem::path executable, int& terminated) const {
        return RelaunchAfterUpdate(
            RelaunchAfterUpdate::proxyAgent(
                home.path(), [](std::string_view) { return std::optional<std::string>(); },
                backend()),
            std::move(executable), [&terminated] { ++terminated; });
    }

    TempDir home;
    TempDir tools;
    FakeExecutable systemctl{tools.path(), "systemctl"};
};

TEST_F(RelaunchAfterUpdateTest, StartsTheExecutableDetachedWhateverItsPathHoldsForTheShell) {
    // A folder name the shell would expand, split or end a quote at, were it parsed.
    const auto folder = home.path() / "Apps \"quoted\" $HOME `true` \\ dir";
    std::filesystem::create_directories(folder);
    const auto executable = folder / "meterly";
    const auto marker = home.path() / "started";
    std::ofstream(executable) << "#!/bin/sh\n"
                                 "printf '%s\\n' \"$0\" > \"$RELAUNCH_MARK.tmp\"\n"
                                 "cut -d' ' -f6 /proc/$$/stat >> \"$RELAUNCH_MARK.tmp\"\n"
                                 "mv \"$RELAUNCH_MARK.tmp\" \"$RELAUNCH_MARK\"\n";
    ::chmod(executable.c_str(), 0755);
    testing::ScopedEnvironment mark("RELAUNCH_MARK", marker.string());

    const auto command = RelaunchAfterUpdate::command(executable);
    EXPECT_EQ(command, (std::vector<std::string>{"/bin/sh", "-c", "sleep 1; exec \"$0\"",
                                                 executable.string()}));
    ASSERT_TRUE(config::PosixProcessRunner().startDetached(command.front(),
                                                           {command.begin() + 1, command.end()}));
    ASSERT_TRUE(appears(marker));
    std::ifstream in(marker);
    std::string path;
    std::string session;
    std::getline(in, path);
    std::getline(in, session);
    EXPECT_EQ(path, executable.string());
    // A session of its own.
    EXPECT_NE(session, std::to_string(::getsid(0)));
}

TEST_F(RelaunchAfterUpdateTest, RestartsALoadedProxyAgentAndQuitsInEveryCase) {
    const std::string unit = "com.meterly.proxy.service";
    const std::vector<std::string> restart = {"--user daemon-reload", "--user restart " + unit};
    struct Case {
        int isEnabled;
        int isActive;
        int restartStatus;
        std::vector<std::string> calls;
    };
    auto then = [&restart](std::vector<std::string> calls) {
        calls.insert(calls.end(), restart.begin(), restart.end());
        return calls;
    };
    const Case cases[] = {
        {0, 3, 0, then({"--user is-enabled " + unit})},
        {0, 3, 1, then({"--user is-enabled " + unit})},
        {1, 0, 0, then({"--user is-enabled " + unit, "--user is-active " + unit})},
        {1, 3, 0, {"--user is-enabled " + unit, "--user is-active " + unit}},
    };
    for (const auto& c : cases) {
        systemctl.clearCalls();
        systemctl.answer("is-enabled", {c.isEnabled});
        systemctl.answer("is-active", {c.isActive});
        systemctl.answer("restart", {c.restartStatus});
        int terminated = 0;
        relaunch("/bin/true", terminated).now();
        EXPECT_EQ(systemctl.calls(), c.calls);
        EXPECT_EQ(terminated, 1);
    }
    // No service manager at all: it still quits.
    std::filesystem::remove(systemctl.path());
    int terminated = 0;
    relaunch("/bin/true", terminated).now();
    EXPECT_EQ(terminated, 1);
}

} // namespace
} // namespace meterly::update
