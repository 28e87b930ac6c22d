#include "config/LaunchAgentManager.hpp"

#include "config/LaunchdBackend.hpp"
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

// A manager of the proxy agent in a temporary home, driving a fake launchctl.
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
                std::make_shared<LaunchdBackend>(std::make_shared<PosixProcessRunner>(),
                                                 launchctl.path().string(), 501)};
    }
    std::string plistPath() const {
        return (home.path() / "Library/LaunchAgents/com.meterly.proxy.plist").string();
    }

    TempDir home;
    TempDir tools;
    FakeExecutable launchctl{tools.path(), "launchctl"};
};

TEST_F(LaunchAgentManagerTest, WritingTheSameDefinitionTwiceWritesOnce) {
    auto agent = manager();
    EXPECT_EQ(agent.plistURL().string(), plistPath());
    EXPECT_TRUE(agent.writePlist()); // creates the missing LaunchAgents folder
    EXPECT_EQ(home.read(plistPath()), spec().plistData());
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
    EXPECT_TRUE(launchctl.calls().empty());
}

TEST_F(LaunchAgentManagerTest, RemovingTheDefinition) {
    auto agent = manager();
    EXPECT_FALSE(agent.removePlist());
    EXPECT_EQ(agent.plistSnapshot(), std::nullopt);
    EXPECT_EQ(agent.installedProgramArguments(), std::nullopt);
    agent.writePlist();
    EXPECT_EQ(agent.plistSnapshot(), spec().plistData());
    EXPECT_TRUE(agent.removePlist());
    EXPECT_FALSE(std::filesystem::exists(plistPath()));
}

TEST_F(LaunchAgentManagerTest, AFolderThatCannotBeCreatedIsAnIOError) {
    home.write("Library", "a file where the folder should be");
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

TEST_F(LaunchAgentManagerTest, BootstrapAcceptsALoadedAgentAndRestartsIt) {
    struct Case {
        int status;
        bool runAtLoad;
        bool kickstarted;
    };
    for (auto c :
         {Case{0, true, false}, Case{0, false, true}, Case{5, true, true}, Case{17, true, true}}) {
        launchctl.clearCalls();
        launchctl.answer("bootstrap", {c.status});
        manager(c.runAtLoad).bootstrap();
        Texts expected{"bootstrap gui/501 " + plistPath()};
        if (c.kickstarted) {
            expected.push_back("kickstart -k gui/501/com.meterly.proxy");
        }
        EXPECT_EQ(launchctl.calls(), expected) << c.status << " " << c.runAtLoad;
    }
}

TEST_F(LaunchAgentManagerTest, FailuresCarryTheVerbTheStatusAndTheOutput) {
    launchctl.answer("bootstrap", {37}, "  Bootstrap failed: 37: Operation already in progress\n");
    try {
        manager().bootstrap();
        FAIL() << "expected LaunchAgentError";
    } catch (const LaunchAgentError& error) {
        EXPECT_EQ(error,
                  LaunchAgentError::launchctlFailed(
                      "bootstrap", 37, "Bootstrap failed: 37: Operation already in progress"));
        EXPECT_EQ(std::string(error.what()),
                  "launchctl bootstrap failed (exit 37): Bootstrap failed: 37: "
                  "Operation already in progress");
    }
    // The restart after an "already loaded" passes its own error up.
    launchctl.answer("bootstrap", {17});
    launchctl.answer("kickstart", {113});
    try {
        manager().bootstrap();
        FAIL() << "expected LaunchAgentError";
    } catch (const LaunchAgentError& error) {
        EXPECT_EQ(std::string(error.what()), "launchctl kickstart failed (exit 113): ");
    }
}

TEST_F(LaunchAgentManagerTest, BootoutCountsANotLoadedAgentAsUnloaded) {
    for (int status : {0, 3, 113}) {
        launchctl.answer("bootout", {status});
        EXPECT_NO_THROW(manager().bootout()) << status;
    }
    launchctl.answer("bootout", {1});
    EXPECT_THROW(manager().bootout(), LaunchAgentError);
    EXPECT_EQ(launchctl.calls().back(), "bootout gui/501/com.meterly.proxy");
}

TEST_F(LaunchAgentManagerTest, IsLoadedAsksLaunchctlAndReadsFailuresAsNo) {
    launchctl.answer("print", {0, 113});
    EXPECT_TRUE(manager().isLoaded());
    EXPECT_FALSE(manager().isLoaded());
    EXPECT_EQ(launchctl.calls().back(), "print gui/501/com.meterly.proxy");

    LaunchAgentManager missing{
        spec(), home.path(),
        std::make_shared<LaunchdBackend>(std::make_shared<PosixProcessRunner>(),
                                         (tools.path() / "none").string())};
    EXPECT_FALSE(missing.isLoaded());
    EXPECT_THROW(missing.kickstart(), LaunchAgentError);
}

TEST_F(LaunchAgentManagerTest, TheDomainIsTheUsersGUIDomain) {
    LaunchdBackend backend(std::make_shared<PosixProcessRunner>());
    EXPECT_EQ(backend.domainTarget(), "gui/" + std::to_string(::getuid()));
    EXPECT_EQ(backend.serviceTarget(spec()), backend.domainTarget() + "/com.meterly.proxy");
}

TEST_F(LaunchAgentManagerTest, RestorePutsTheEarlierDefinitionAndStateBack) {
    auto agent = manager();
    std::string earlier =
        LaunchAgentSpec::proxy("/old/meterly", 8800, "com.meterly.proxy", {"--proxy"}).plistData();
    struct Case {
        std::optional<std::string> snapshot;
        bool wasLoaded;
        Texts calls;
    };
    const Case cases[] = {
        {earlier, true, {"kickstart -k gui/501/com.meterly.proxy"}},
        {earlier, false, {"bootout gui/501/com.meterly.proxy"}},
        {std::nullopt, true, {"bootout gui/501/com.meterly.proxy"}},
        {std::nullopt, false, {"bootout gui/501/com.meterly.proxy"}},
    };
    for (const auto& c : cases) {
        agent.writePlist();
        launchctl.clearCalls();
        agent.restore(c.snapshot, c.wasLoaded);
        EXPECT_EQ(agent.plistSnapshot(), c.snapshot);
        EXPECT_EQ(launchctl.calls(), c.calls);
    }
}

TEST_F(LaunchAgentManagerTest, RestoreSwallowsItsOwnFailures) {
    auto agent = manager();
    agent.writePlist();
    launchctl.answer("kickstart", {1});
    launchctl.answer("bootout", {1});
    EXPECT_NO_THROW(agent.restore(std::string("old bytes"), true));
    EXPECT_EQ(agent.plistSnapshot(), "old bytes");
    EXPECT_NO_THROW(agent.restore(std::nullopt, true));
    EXPECT_EQ(agent.plistSnapshot(), std::nullopt);
}

} // namespace
} // namespace meterly::config
