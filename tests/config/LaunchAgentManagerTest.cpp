#include "config/LaunchAgentManager.hpp"

#include "config/SystemdUnitFile.hpp"
#include "config/SystemdUserBackend.hpp"
#include "support/FakeExecutable.hpp"
#include "support/TempDir.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace meterly::config {
namespace {

using testing::FakeExecutable;
using testing::TempDir;
using Texts = std::vector<std::string>;

// A manager of the proxy agent in a temporary home, driving a fake systemctl.
class LaunchAgentManagerTest : public ::testing::Test {
protected:
    LaunchAgentSpec spec(bool runAtLoad = true) const {
        auto s = LaunchAgentSpec::proxy(
            "/opt/Meterly.app/Contents/MacOS/meterly", 8787, "com.meterly.proxy", {"--proxy"},
            [](std::string_view) { return std::optional<std::string>(); });
        s.runAtLoad = runAtLoad;
        return s;
    }
    LaunchAgentManager manager(bool runAtLoad = true) const {
        return {spec(runAtLoad), home.path(),
                std::make_shared<SystemdUserBackend>(
                    std::make_shared<PosixProcessRunner>(),
                    [](std::string_view) { return std::optional<std::string>(); },
                    systemctl.path().string())};
    }
    std::string plistPath() const {
        return (home.path() / ".config/systemd/user/com.meterly.proxy.service").string();
    }
    static std::string definition(const LaunchAgentSpec& s) { return SystemdUnitFile::render(s); }

    TempDir home;
    TempDir tools;
    FakeExecutable systemctl{tools.path(), "systemctl"};
};

TEST_F(LaunchAgentManagerTest, WritingTheSameDefinitionTwiceWritesOnce) {
    auto agent = manager();
    EXPECT_EQ(agent.plistURL().string(), plistPath());
    EXPECT_TRUE(agent.writePlist()); // creates the missing LaunchAgents folder
    EXPECT_EQ(home.read(plistPath()), definition(spec()));
    struct stat before {};
    ASSERT_EQ(::stat(plistPath().c_str(), &before), 0);
    EXPECT_FALSE(agent.writePlist());
    struct stat after {};
    ASSERT_EQ(::stat(plistPath().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);

    // Another definition (another port) replaces the file.
    LaunchAgentManager other{LaunchAgentSpec::proxy("/x", 9000, "com.meterly.proxy", {"--proxy"}),
                             home.path(), agent.backend()};
    EXPECT_TRUE(other.writePlist());
    EXPECT_EQ(agent.installedProgramArguments(), (Texts{"/x", "--proxy", "--port", "9000"}));
    EXPECT_TRUE(systemctl.calls().empty());
}

TEST_F(LaunchAgentManagerTest, RemovingTheDefinition) {
    auto agent = manager();
    EXPECT_FALSE(agent.removePlist());
    EXPECT_EQ(agent.plistSnapshot(), std::nullopt);
    EXPECT_EQ(agent.installedProgramArguments(), std::nullopt);
    agent.writePlist();
    EXPECT_EQ(agent.plistSnapshot(), definition(spec()));
    EXPECT_TRUE(agent.removePlist());
    EXPECT_FALSE(std::filesystem::exists(plistPath()));
}

TEST_F(LaunchAgentManagerTest, AFolderThatCannotBeCreatedIsAnIOError) {
    home.write(".config", "a file where the folder should be");
    try {
        manager().writePlist();
        FAIL() << "expected LaunchAgentError";
    } catch (const LaunchAgentError& error) {
        EXPECT_EQ(error.kind(), LaunchAgentError::Kind::io);
        EXPECT_EQ(error.path(), plistPath());
        EXPECT_EQ(std::string(error.what()).rfind("I/O error on " + plistPath() + ": ", 0), 0u)
            << std::string(error.what());
    }
}

TEST_F(LaunchAgentManagerTest, RestorePutsTheEarlierDefinitionAndStateBack) {
    auto agent = manager();
    std::string earlier =
        definition(LaunchAgentSpec::proxy("/old/meterly", 8800, "com.meterly.proxy", {"--proxy"}));
    const std::string unit = "com.meterly.proxy.service";
    const Texts restarted{"--user daemon-reload", "--user restart " + unit};
    const Texts stopped{"--user disable " + unit, "--user stop " + unit};
    struct Case {
        std::optional<std::string> snapshot;
        bool wasLoaded;
        Texts calls;
    };
    const Case cases[] = {
        {earlier, true, restarted},
        {earlier, false, stopped},
        {std::nullopt, true, stopped},
        {std::nullopt, false, stopped},
    };
    for (const auto& c : cases) {
        agent.writePlist();
        systemctl.clearCalls();
        agent.restore(c.snapshot, c.wasLoaded);
        EXPECT_EQ(agent.plistSnapshot(), c.snapshot);
        EXPECT_EQ(systemctl.calls(), c.calls);
    }
}

TEST_F(LaunchAgentManagerTest, RestoreSwallowsItsOwnFailures) {
    auto agent = manager();
    agent.writePlist();
    systemctl.answer("restart", {1});
    systemctl.answer("stop", {1});
    EXPECT_NO_THROW(agent.restore(std::string("old bytes"), true));
    EXPECT_EQ(agent.plistSnapshot(), "old bytes");
    EXPECT_NO_THROW(agent.restore(std::nullopt, true));
    EXPECT_EQ(agent.plistSnapshot(), std::nullopt);
}

} // namespace
} // namespace meterly::config
