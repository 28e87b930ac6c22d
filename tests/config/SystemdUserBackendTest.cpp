#include "config/SystemdUserBackend.hpp"

#include "config/LaunchAgentManager.hpp"
#include "config/SystemdUnitFile.hpp"
#include "support/FakeExecutable.hpp"
#include "support/TempDir.hpp"

#include <gtest/gtest.h>

namespace meterly::config {
namespace {

using testing::FakeExecutable;
using testing::TempDir;
using Texts = std::vector<std::string>;

core::EnvironmentLookup configHome(std::optional<std::string> value) {
    return [value](std::string_view name) -> std::optional<std::string> {
        return name == "XDG_CONFIG_HOME" ? value : std::nullopt;
    };
}

// The proxy agent in a temporary home under a fake systemctl.
class SystemdUserBackendTest : public ::testing::Test {
protected:
    LaunchAgentSpec spec(const std::string& executable = "/opt/meterly/bin/meterly",
                         std::uint16_t port = 8787) const {
        return LaunchAgentSpec::proxy(
            executable, port, "com.meterly.proxy", {"--proxy"},
            [](std::string_view) { return std::optional<std::string>(); });
    }
    std::shared_ptr<SystemdUserBackend>
    backend(std::optional<std::string> xdg = std::nullopt) const {
        return std::make_shared<SystemdUserBackend>(std::make_shared<PosixProcessRunner>(),
                                                    configHome(std::move(xdg)),
                                                    systemctl.path().string());
    }
    LaunchAgentManager manager(LaunchAgentSpec s) const {
        return {std::move(s), home.path(), backend()};
    }

    TempDir home;
    TempDir tools;
    FakeExecutable systemctl{tools.path(), "systemctl"};
};

TEST_F(SystemdUserBackendTest, TheUnitLivesInTheUsersConfigFolder) {
    struct Case {
        std::optional<std::string> xdg;
        std::string folder;
    };
    const Case cases[] = {
        {std::nullopt, (home.path() / ".config/systemd/user").string()},
        {"", (home.path() / ".config/systemd/user").string()},
        {"relative/config", (home.path() / ".config/systemd/user").string()},
        {"/elsewhere/config", "/elsewhere/config/systemd/user"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(backend(c.xdg)->definitionPath(spec(), home.path()).string(),
                  c.folder + "/com.meterly.proxy.service");
    }
}

TEST_F(SystemdUserBackendTest, TheManagerWritesTheUnitAndReadsItsCommandLineBack) {
    auto agent = manager(spec());
    EXPECT_TRUE(agent.writePlist());
    EXPECT_FALSE(agent.writePlist());
    EXPECT_EQ(home.read(".config/systemd/user/com.meterly.proxy.service"),
              SystemdUnitFile::render(spec()));
    EXPECT_EQ(agent.installedProgramArguments(),
              (Texts{"/opt/meterly/bin/meterly", "--proxy", "--port", "8787"}));
    EXPECT_TRUE(systemctl.calls().empty());
}

TEST_F(SystemdUserBackendTest, BootstrapReloadsEnablesAndRestarts) {
    struct Case {
        bool runAtLoad;
        Texts calls;
    };
    const Case cases[] = {
        {true,
         {"--user daemon-reload", "--user enable com.meterly.proxy.service",
          "--user restart com.meterly.proxy.service"}},
        {false, {"--user daemon-reload", "--user restart com.meterly.proxy.service"}},
    };
    for (const auto& c : cases) {
        systemctl.clearCalls();
        auto s = spec();
        s.runAtLoad = c.runAtLoad;
        manager(s).bootstrap();
        EXPECT_EQ(systemctl.calls(), c.calls);
    }
    systemctl.answer("restart", {1}, "Job for com.meterly.proxy.service failed.");
    EXPECT_THROW(manager(spec()).bootstrap(), LaunchAgentError);
}

TEST_F(SystemdUserBackendTest, ARestartAfterARepairRunsTheRewrittenUnit) {
    // The agent runs an executable that has since moved; the repair rewrites the unit and
    // restarts it. Without a reload systemd would restart the old command line.
    manager(spec("/old/place/meterly")).writePlist();
    auto repaired = manager(spec("/new/place/meterly"));
    EXPECT_TRUE(repaired.writePlist());
    repaired.kickstart();
    EXPECT_EQ(systemctl.calls(),
              (Texts{"--user daemon-reload", "--user restart com.meterly.proxy.service"}));
    EXPECT_EQ(repaired.installedProgramArguments()->front(), "/new/place/meterly");

    systemctl.clearCalls();
    systemctl.answer("daemon-reload", {1}, "Failed to connect to bus: No medium found");
    try {
        repaired.kickstart();
        FAIL() << "expected LaunchAgentError";
    } catch (const LaunchAgentError& error) {
        EXPECT_EQ(
            std::string(error.what()),
            "systemctl daemon-reload failed (exit 1): Failed to connect to bus: No medium found");
    }
    EXPECT_EQ(systemctl.calls(), Texts{"--user daemon-reload"});
}

TEST_F(SystemdUserBackendTest, BootoutDisablesAndStopsAndANotLoadedUnitIsStopped) {
    // A failed disable is looked into: a unit the manager has no file for (never installed,
    // the proxy run by hand) has nothing to disable; any other failure is passed on.
    const std::string unit = "com.meterly.proxy.service";
    const Texts bothSteps{"--user disable " + unit, "--user stop " + unit};
    const Texts lookedInto{"--user disable " + unit,
                           "--user show --property=LoadState --value " + unit,
                           "--user stop " + unit};
    struct Case {
        int disable;
        int stop;
        int show;
        std::string loadState;
        std::optional<std::string> failedVerb;
        Texts calls;
    };
    const Case cases[] = {
        {0, 0, 0, "loaded", std::nullopt, bothSteps},
        {0, 5, 0, "loaded", std::nullopt, bothSteps},
        {0, 1, 0, "loaded", "stop", bothSteps},
        {1, 0, 0, "loaded", "disable", lookedInto},
        {1, 1, 0, "loaded", "stop", lookedInto},
        {1, 5, 0, "not-found", std::nullopt, lookedInto},
        {1, 0, 0, "not-found", std::nullopt, lookedInto},
        {1, 1, 0, "not-found", "stop", lookedInto},
        {1, 5, 0, "masked", "disable", lookedInto},
        {1, 5, 0, "", "disable", lookedInto},
        // The manager cannot be asked: the failure stands.
        {1, 5, 1, "not-found", "disable", lookedInto},
    };
    for (const auto& c : cases) {
        systemctl.clearCalls();
        systemctl.answer("disable", {c.disable});
        systemctl.answer("stop", {c.stop});
        systemctl.answer("show", {c.show}, c.loadState + "\n");
        std::optional<std::string> failedVerb;
        try {
            manager(spec()).bootout();
        } catch (const LaunchAgentError& error) {
            failedVerb = error.command();
            EXPECT_EQ(error.kind(), LaunchAgentError::Kind::systemctlFailed);
        }
        EXPECT_EQ(failedVerb, c.failedVerb) << c.disable << " " << c.stop << " " << c.loadState;
        // The stop runs whatever the disable did, so a running agent is not left behind.
        EXPECT_EQ(systemctl.calls(), c.calls);
    }
}

TEST_F(SystemdUserBackendTest, IsLoadedMeansEnabledOrRunning) {
    // An enabled unit whose executable is gone never becomes active, yet it is loaded: it is
    // there to be repaired and restarted.
    struct Case {
        int enabled;
        int active;
        bool loaded;
        Texts calls;
    };
    const std::string unit = "com.meterly.proxy.service";
    const Case cases[] = {
        {0, 3, true, {"--user is-enabled " + unit}},
        {1, 0, true, {"--user is-enabled " + unit, "--user is-active " + unit}},
        {1, 3, false, {"--user is-enabled " + unit, "--user is-active " + unit}},
        {4, 4, false, {"--user is-enabled " + unit, "--user is-active " + unit}},
    };
    for (const auto& c : cases) {
        systemctl.clearCalls();
        systemctl.answer("is-enabled", {c.enabled});
        systemctl.answer("is-active", {c.active});
        EXPECT_EQ(manager(spec()).isLoaded(), c.loaded) << c.enabled << " " << c.active;
        EXPECT_EQ(systemctl.calls(), c.calls);
    }
}

} // namespace
} // namespace meterly::config
