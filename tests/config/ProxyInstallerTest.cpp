#include "config/ProxyInstaller.hpp"

#include "config/ConfigError.hpp"
#include "config/PortSelector.hpp"
#include "config/SystemdUnitFile.hpp"
#include "config/SystemdUserBackend.hpp"
#include "support/FakeExecutable.hpp"
#include "support/FakeSystemctl.hpp"
#include "support/LocalHTTPServer.hpp"
#include "support/SystemdUserManager.hpp"
#include "support/TempDir.hpp"

#include <gtest/gtest.h>
#include <iostream>

namespace meterly::config {
namespace {

using testing::FakeExecutable;
using testing::LocalHTTPServer;
using testing::PortHolder;
using testing::ReservedPort;
using testing::SystemdUserManager;
using testing::TempDir;
using Texts = std::vector<std::string>;
using Policy = ClaudeSettingsFile::ConflictPolicy;

const std::string unitCalls = "com.meterly.proxy.service";

core::EnvironmentLookup noVariables() {
    return [](std::string_view) { return std::optional<std::string>(); };
}

// A running proxy as the health probe sees it: every request gets 200 and no body.
std::optional<std::string> healthyProxy(const std::string&) {
    return LocalHTTPServer::reply("HTTP/1.1 200 OK", "");
}

// An installation in a temporary home: Claude Code's settings under .claude, the agent's unit
// under .config/systemd/user, a fake systemctl, and executables that exist on disk.
class ProxyInstallerTest : public ::testing::Test {
protected:
    ProxyInstallerTest() {
        home.write("Applications/Meterly.app/Contents/MacOS/meterly", "#!/bin/sh\n");
        home.write("Other/Meterly.app/Contents/MacOS/meterly", "#!/bin/sh\n");
    }

    std::string ownExecutable() const {
        return (home.path() / "Applications/Meterly.app/Contents/MacOS/meterly").string();
    }
    std::string otherExecutable() const {
        return (home.path() / "Other/Meterly.app/Contents/MacOS/meterly").string();
    }
    std::shared_ptr<ServiceBackend> backend() const {
        return std::make_shared<SystemdUserBackend>(std::make_shared<PosixProcessRunner>(),
                                                    noVariables(), systemctl.path().string());
    }
    ProxyInstaller installer(std::uint16_t port, const std::string& executable = {}) const {
        return ProxyInstaller::standard(executable.empty() ? ownExecutable() : executable, port,
                                        home.path(), noVariables(), backend());
    }
    std::filesystem::path unitPath() const {
        return home.path() / ".config/systemd/user/com.meterly.proxy.service";
    }
    std::filesystem::path settingsPath() const { return home.path() / ".claude/settings.json"; }
    void writeSettings(const std::string& baseURL) const {
        home.write(".claude/settings.json",
                   "{\n  \"model\": \"opus\",\n  \"env\": {\"ANTHROPIC_BASE_URL\": \"" + baseURL +
                       "\"}\n}\n");
    }
    std::optional<std::string> settingsBytes() const {
        return std::filesystem::exists(settingsPath()) ? std::optional(home.read(settingsPath()))
                                                       : std::nullopt;
    }
    std::optional<std::string> unitBytes() const {
        return std::filesystem::exists(unitPath()) ? std::optional(home.read(unitPath()))
                                                   : std::nullopt;
    }
    // The user manager's answers for an agent that is (or is not) installed and running.
    void agentLoaded(bool loaded) {
        systemctl.answer("is-enabled", {loaded ? 0 : 1});
        systemctl.answer("is-active", {loaded ? 0 : 3});
    }
    // 20 tries 0.5 s apart, as the installer's own, without waiting.
    ProxyHealthProbe probe(std::uint16_t port) {
        return ProxyHealthProbe(port, "127.0.0.1", 20, 0.5, [this](core::Seconds) { ++pauses; });
    }

    TempDir home;
    TempDir tools;
    FakeExecutable systemctl{tools.path(), "systemctl"};
    int pauses = 0;
};

TEST_F(ProxyInstallerTest, AFailedInstallPutsTheEarlierAgentBackAndLeavesTheSettingsAlone) {
    // Whether the proxy never answers or the settings step fails after it did (another base URL
    // here), no kept-alive proxy stays behind with nothing pointing at it.
    enum class Failure { proxyNeverAnswers, otherBaseURL };
    struct Earlier {
        bool unit;
        bool loaded;
        Texts rollbackCalls;
    };
    const Earlier earlierAgents[] = {
        {false, false, {"--user disable " + unitCalls, "--user stop " + unitCalls}},
        {true, false, {"--user disable " + unitCalls, "--user stop " + unitCalls}},
        {true, true, {"--user daemon-reload", "--user restart " + unitCalls}},
    };
    for (auto failure : {Failure::proxyNeverAnswers, Failure::otherBaseURL}) {
        for (const auto& earlier : earlierAgents) {
            std::filesystem::remove(unitPath());
            writeSettings("https://gateway.example.com");
            if (earlier.unit) {
                installer(8800, otherExecutable()).agent().writePlist();
            }
            auto unitBefore = unitBytes();
            auto settingsBefore = settingsBytes();
            systemctl.clearCalls();
            agentLoaded(earlier.loaded);
            pauses = 0;
            LocalHTTPServer proxy(healthyProxy);
            ReservedPort silent;
            const bool answers = failure == Failure::otherBaseURL;
            const std::uint16_t port = answers ? proxy.port() : silent.port();
            const auto expected =
                answers ? ConfigError::conflictingBaseURL(settingsPath().string(),
                                                          "https://gateway.example.com")
                        : ConfigError::proxyUnreachable(port, 10);

            try {
                installer(port).install(port, answers ? Policy::refuse : Policy::force, true,
                                        probe(port));
                FAIL() << "expected ConfigError";
            } catch (const ConfigError& error) {
                EXPECT_EQ(error, expected);
            }
            EXPECT_EQ(pauses, answers ? 0 : 19);
            EXPECT_EQ(unitBytes(), unitBefore);
            EXPECT_EQ(settingsBytes(), settingsBefore);
            EXPECT_FALSE(
                std::filesystem::exists(home.path() / ".claude/settings.json.meterly-backup"));
            auto calls = systemctl.calls();
            ASSERT_GE(calls.size(), earlier.rollbackCalls.size());
            EXPECT_EQ(
                Texts(calls.end() - static_cast<long>(earlier.rollbackCalls.size()), calls.end()),
                earlier.rollbackCalls)
                << answers << earlier.unit << earlier.loaded;
        }
    }
    EXPECT_NE(std::string(ConfigError::proxyUnreachable(8787, 10).what())
                  .find("127.0.0.1:8787 within 10s."),
              std::string::npos);
}

TEST_F(ProxyInstallerTest, AServiceManagerFailureRollsBackAndIsPassedOn) {
    writeSettings("https://gateway.example.com");
    auto settingsBefore = settingsBytes();
    agentLoaded(false);
    systemctl.answer("restart", {1}, "Job for com.meterly.proxy.service failed.");
    LocalHTTPServer proxy(healthyProxy);
    try {
        installer(proxy.port()).install(proxy.port(), Policy::force, true, probe(proxy.port()));
        FAIL() << "expected LaunchAgentError";
    } catch (const LaunchAgentError& error) {
        EXPECT_EQ(error, LaunchAgentError::systemctlFailed(
                             "restart", 1, "Job for com.meterly.proxy.service failed."));
    }
    EXPECT_EQ(unitBytes(), std::nullopt);
    EXPECT_EQ(settingsBytes(), settingsBefore);
    EXPECT_TRUE(proxy.requests().empty());
}

TEST_F(ProxyInstallerTest, AfterAConflictAnInstallWithAnotherPolicyGoesThrough) {
    writeSettings("https://gateway.example.com");
    LocalHTTPServer proxy(healthyProxy);
    auto install = installer(proxy.port());
    EXPECT_THROW(install.install(proxy.port(), Policy::refuse, true, probe(proxy.port())),
                 ConfigError);

    systemctl.clearCalls();
    agentLoaded(true);
    auto report = install.install(proxy.port(), Policy::force, true, probe(proxy.port()));
    EXPECT_EQ(systemctl.calls(), (Texts{"--user is-enabled " + unitCalls, "--user daemon-reload",
                                        "--user enable " + unitCalls, "--user restart " + unitCalls,
                                        "--user is-enabled " + unitCalls}));
    EXPECT_EQ(report.port, proxy.port());
    EXPECT_EQ(report.baseURL, PortSelector::baseURL(proxy.port()));
    EXPECT_EQ(report.plistPath, unitPath().string());
    EXPECT_TRUE(report.agentStarted);
    EXPECT_EQ(report.settings.change, ClaudeSettingsFile::InstallResult::Change::replacedBaseURL(
                                          "https://gateway.example.com"));
    EXPECT_EQ(install.settings().inspect().existingBaseURL, report.baseURL);
    EXPECT_EQ(unitBytes(), SystemdUnitFile::render(install.agent().spec()));
    EXPECT_EQ(proxy.requests().size(), 2u);
}

TEST_F(ProxyInstallerTest, InstallingWithoutTheAgentOnlyEditsTheSettings) {
    auto report = installer(8787).install(8787, Policy::refuse, false);
    EXPECT_FALSE(report.agentStarted);
    EXPECT_EQ(report.settings.change, ClaudeSettingsFile::InstallResult::Change::createdFile());
    EXPECT_EQ(unitBytes(), std::nullopt);
    EXPECT_TRUE(systemctl.calls().empty());
}

TEST_F(ProxyInstallerTest, UninstallTakesTheSettingsBackThenStopsAndRemovesTheAgent) {
    auto install = installer(8787);
    writeSettings("http://127.0.0.1:8787");
    install.agent().writePlist();
    agentLoaded(false);

    auto kept = install.uninstall(false, false);
    EXPECT_EQ(kept.settings.change, ClaudeSettingsFile::RemovalResult::Change::removedBaseURL());
    EXPECT_FALSE(kept.agentStopped);
    EXPECT_FALSE(kept.plistRemoved);
    EXPECT_TRUE(systemctl.calls().empty());
    EXPECT_TRUE(unitBytes());

    writeSettings("http://127.0.0.1:8787");
    auto report = install.uninstall(false, true);
    EXPECT_TRUE(report.agentStopped);
    EXPECT_TRUE(report.plistRemoved);
    EXPECT_EQ(unitBytes(), std::nullopt);
    EXPECT_EQ(systemctl.calls(),
              (Texts{"--user disable " + unitCalls, "--user stop " + unitCalls,
                     "--user is-enabled " + unitCalls, "--user is-active " + unitCalls}));

    // A failing stop is passed on; the settings change stands.
    writeSettings("http://127.0.0.1:8787");
    install.agent().writePlist();
    systemctl.answer("stop", {1});
    EXPECT_THROW(install.uninstall(false, true), LaunchAgentError);
    EXPECT_EQ(install.settings().inspect().existingBaseURL, std::nullopt);
    EXPECT_TRUE(unitBytes());
}

TEST_F(ProxyInstallerTest, ResolvingThePort) {
    ReservedPort configured;
    ReservedPort scanned;
    std::uint16_t port = configured.port();
    configured.release();
    scanned.release();
    auto settings = installer(port).settings();
    auto answering = [](std::uint16_t) { return true; };
    auto silent = [](std::uint16_t) { return false; };

    home.write(".claude/settings.json", "not json");
    EXPECT_EQ(ProxyInstaller::resolvePort(settings, 4242, scanned.port()), 4242);
    EXPECT_THROW(ProxyInstaller::resolvePort(settings, std::nullopt, scanned.port()), ConfigError);

    writeSettings(PortSelector::baseURL(port));
    EXPECT_EQ(ProxyInstaller::resolvePort(settings, std::nullopt, scanned.port()), port);
    {
        PortHolder busy(port);
        EXPECT_EQ(ProxyInstaller::resolvePort(settings, std::nullopt, scanned.port()),
                  scanned.port());
        EXPECT_EQ(ProxyInstaller::resolvePort(settings, std::nullopt, scanned.port(), silent),
                  scanned.port());
        EXPECT_EQ(ProxyInstaller::resolvePort(settings, std::nullopt, scanned.port(), answering),
                  port);
    }
    writeSettings("https://gateway.example.com:" + std::to_string(port));
    EXPECT_EQ(ProxyInstaller::resolvePort(settings, std::nullopt, scanned.port(), answering),
              scanned.port());
    std::filesystem::remove(settingsPath());
    EXPECT_EQ(ProxyInstaller::resolvePort(settings, std::nullopt, scanned.port()), scanned.port());
}

TEST_F(ProxyInstallerTest, ExecutableDrift) {
    using Drift = ProxyInstaller::ExecutableDrift;
    auto own = installer(8787);
    EXPECT_EQ(own.executableDrift(), std::nullopt); // no unit installed

    struct Case {
        std::string installed;
        std::optional<Drift> drift;
        std::optional<std::string> pathDrift;
    };
    const std::string gone = (home.path() / "Gone/meterly").string();
    const Case cases[] = {
        {ownExecutable(), std::nullopt, std::nullopt},
        {otherExecutable(), Drift::moved(otherExecutable()), otherExecutable()},
        {gone, Drift::missingBinary(gone), gone},
    };
    for (const auto& c : cases) {
        installer(8787, c.installed).agent().writePlist();
        EXPECT_EQ(own.executableDrift(), c.drift) << c.installed;
        EXPECT_EQ(own.executablePathDrift(), c.pathDrift) << c.installed;
    }
    // A vanished executable is missing even when it is this installer's own.
    auto vanished = installer(8787, gone);
    EXPECT_EQ(vanished.executableDrift(), Drift::missingBinary(gone));
    EXPECT_EQ(vanished.executablePathDrift(), std::nullopt);
}

TEST_F(ProxyInstallerTest, TeardownAfterDeletion) {
    using Report = ProxyInstaller::SelfTeardownReport;
    const std::string gone = (home.path() / "Gone/meterly").string();
    struct Case {
        std::optional<std::string> installed; // the executable the unit runs, if there is a unit
        std::string baseURL;
        Report report;
        bool baseURLSurvives;
        Texts calls;
    };
    const Texts bootout{"--user disable " + unitCalls, "--user stop " + unitCalls};
    const Case cases[] = {
        // Another copy of the application took the agent over: only restart it.
        {otherExecutable(),
         "http://127.0.0.1:8787",
         {false, false, false},
         true,
         {"--user daemon-reload", "--user restart " + unitCalls}},
        {ownExecutable(), "http://127.0.0.1:8787", {true, true, true}, false, bootout},
        {gone, "http://localhost:8787", {true, true, true}, false, bootout},
        {std::nullopt, "http://127.0.0.1:8787", {true, false, true}, false, bootout},
        {ownExecutable(), "http://127.0.0.1:9999", {false, true, true}, true, bootout},
        {ownExecutable(), "https://gateway.example.com:8787", {false, true, true}, true, bootout},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(unitPath());
        if (c.installed) {
            installer(8787, *c.installed).agent().writePlist();
        }
        auto unitBefore = unitBytes();
        writeSettings(c.baseURL);
        systemctl.clearCalls();
        auto exists = [](const std::string& path) { return std::filesystem::exists(path); };

        auto report = installer(8787).teardownAfterDeletion(ownExecutable(), 8787, exists);
        EXPECT_EQ(report, c.report) << c.baseURL;
        EXPECT_EQ(installer(8787).settings().inspect().existingBaseURL ==
                      std::optional<std::string>(c.baseURL),
                  c.baseURLSurvives)
            << c.baseURL;
        EXPECT_EQ(systemctl.calls(), c.calls) << c.baseURL;
        if (c.report.plistRemoved || !c.installed) {
            EXPECT_EQ(unitBytes(), std::nullopt);
        } else {
            EXPECT_EQ(unitBytes(), unitBefore);
        }
    }
}

TEST_F(ProxyInstallerTest, TeardownRemovesTheUnitBeforeItStopsItselfWhileUninstallStopsFirst) {
    // The teardown runs inside the agent, and its stop ends this very process: by then the unit
    // must be gone. A disconnect from the app stops the agent while its unit is still there.
    systemctl.watch(unitPath());
    auto own = installer(8787);
    own.agent().writePlist();
    own.teardownAfterDeletion(ownExecutable(), 8787, [](const std::string&) { return false; });
    EXPECT_EQ(systemctl.calls(), (Texts{"--user disable " + unitCalls + " [absent]",
                                        "--user stop " + unitCalls + " [absent]"}));

    systemctl.clearCalls();
    agentLoaded(false);
    own.agent().writePlist();
    own.uninstall(false, true);
    EXPECT_EQ(systemctl.calls(), (Texts{"--user disable " + unitCalls + " [present]",
                                        "--user stop " + unitCalls + " [present]",
                                        "--user is-enabled " + unitCalls + " [present]",
                                        "--user is-active " + unitCalls + " [present]"}));
}

TEST_F(ProxyInstallerTest, TeardownNeverFails) {
    home.write(".claude/settings.json", "[1, 2]");
    installer(8787).agent().writePlist();
    systemctl.answer("stop", {1});
    ::testing::internal::CaptureStderr();
    auto report = installer(8787).teardownAfterDeletion(ownExecutable(), 8787,
                                                        [](const std::string&) { return false; });
    const std::string logged = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(report, (ProxyInstaller::SelfTeardownReport{false, true, false}));
    EXPECT_EQ(home.read(settingsPath()), "[1, 2]");
    // The steps that failed are logged, and the others went on.
    EXPECT_NE(logged.find("meterly: stopping the agent failed: "), std::string::npos) << logged;
}

TEST_F(ProxyInstallerTest, TheStandardAndTheBundledInstallation) {
    core::EnvironmentLookup development = [](std::string_view name) -> std::optional<std::string> {
        return name == "METERLY_INSTALL" ? std::optional<std::string>("dev") : std::nullopt;
    };
    auto dev = ProxyInstaller::standard("/opt/meterly", 8900, home.path(), development, backend());
    EXPECT_EQ(dev.settings().url(), home.path() / ".claude-meterly-dev/settings.json");
    EXPECT_EQ(dev.agent().spec().label, "com.meterly.proxy.dev");
    EXPECT_EQ(dev.agent().spec().programArguments,
              (Texts{"/opt/meterly", "--proxy", "--port", "8900"}));
    EXPECT_EQ(dev.agent().spec().environment.at("METERLY_INSTALL"), "dev");
    EXPECT_EQ(dev.agent().plistURL(),
              home.path() / ".config/systemd/user/com.meterly.proxy.dev.service");

    auto found = [this] { return std::optional(ownExecutable()); };
    auto bundled = ProxyInstaller::bundled(8787, home.path(), found, noVariables(), backend());
    ASSERT_TRUE(bundled);
    EXPECT_EQ(bundled->agent().spec().programArguments.front(), ownExecutable());
    EXPECT_EQ(bundled->agent().spec().label, "com.meterly.proxy");

    auto nothing = [] { return std::optional<std::string>(); };
    EXPECT_FALSE(ProxyInstaller::bundled(8787, home.path(), nothing, noVariables(), backend()));

    auto running = ProxyInstaller::runningExecutablePath();
    ASSERT_TRUE(running);
    EXPECT_EQ(std::filesystem::path(*running).filename(), "config_tests");
    EXPECT_EQ(*running, std::filesystem::canonical(*running).string());
}

// The proxy run by hand, as the README's "By hand" shows: Claude Code's settings point at it, and
// no unit was ever installed. Against a systemd user manager of the test's own; where none can
// run, a fake systemctl that answers as systemd does for a unit that has no file.
class ProxyInstallerByHandTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string whyNot;
        manager = SystemdUserManager::start(home.path(), whyNot);
        if (!manager) {
            std::cerr << "[ NOTE     ] no systemd user manager here (" << whyNot
                      << "); a fake systemctl stands in for it\n";
            fake = std::make_unique<FakeExecutable>(tools.path(), "systemctl");
            testing::answerAsForAMissingUnit(*fake, unitPath());
        }
        home.write("Silent/meterly", "#!/bin/sh\nexec sleep 600\n");
        std::filesystem::permissions(home.path() / "Silent/meterly",
                                     std::filesystem::perms::owner_all);
        home.write(".claude/settings.json",
                   "{\"env\": {\"ANTHROPIC_BASE_URL\": \"http://127.0.0.1:8787\"}}\n");
    }

    ProxyInstaller installer() const {
        const auto systemctl = manager ? manager->systemctl() : fake->path();
        return ProxyInstaller::standard(
            executable(), 8787, home.path(), noVariables(),
            std::make_shared<SystemdUserBackend>(std::make_shared<PosixProcessRunner>(),
                                                 noVariables(), systemctl.string()));
    }
    std::string executable() const { return (home.path() / "Silent/meterly").string(); }
    std::filesystem::path unitPath() const {
        return home.path() / ".config/systemd/user/com.meterly.proxy.service";
    }
    std::optional<std::string> baseURL() const {
        return installer().settings().inspect().existingBaseURL;
    }

    TempDir home;
    TempDir tools;
    std::unique_ptr<SystemdUserManager> manager;
    std::unique_ptr<FakeExecutable> fake;
};

TEST_F(ProxyInstallerByHandTest, DisconnectingTakesTheBaseURLOutAndFindsNoAgentToStop) {
    auto report = installer().uninstall(false, true);
    EXPECT_EQ(report.settings.change, ClaudeSettingsFile::RemovalResult::Change::removedBaseURL());
    EXPECT_TRUE(report.agentStopped);
    EXPECT_FALSE(report.plistRemoved);
    EXPECT_EQ(baseURL(), std::nullopt);

    // Trying again finds nothing left to do, and says so without failing.
    auto again = installer().uninstall(false, true);
    EXPECT_EQ(again.settings.change, ClaudeSettingsFile::RemovalResult::Change::notConfigured());
    EXPECT_TRUE(again.agentStopped);
    EXPECT_FALSE(again.plistRemoved);
    EXPECT_FALSE(std::filesystem::exists(unitPath()));
}

TEST_F(ProxyInstallerByHandTest, TheTeardownAfterADeletionStopsWhatThereIs) {
    auto report = installer().teardownAfterDeletion(executable(), 8787,
                                                    [](const std::string&) { return false; });
    EXPECT_EQ(report, (ProxyInstaller::SelfTeardownReport{true, false, true}));
    EXPECT_EQ(baseURL(), std::nullopt);
}

TEST_F(ProxyInstallerByHandTest, AnInstalledAgentIsStillDisabledAndStopped) {
    if (!manager) {
        GTEST_SKIP() << "needs a systemd user manager";
    }
    const std::string unit = "com.meterly.proxy.service";
    const auto wanted = home.path() / ".config/systemd/user/default.target.wants" / unit;
    for (bool teardown : {false, true}) {
        auto install = installer();
        install.agent().writePlist();
        install.agent().bootstrap();
        ASSERT_EQ(manager->run({"is-active", unit}), 0) << manager->diagnostics(unit);
        ASSERT_TRUE(std::filesystem::is_symlink(wanted));
        if (teardown) {
            // The unit file goes first; the manager still has the unit loaded and running.
            auto report = install.teardownAfterDeletion(executable(), 8787,
                                                        [](const std::string&) { return false; });
            EXPECT_TRUE(report.plistRemoved);
            EXPECT_TRUE(report.bootedOut);
        } else {
            auto report = install.uninstall(false, true);
            EXPECT_TRUE(report.agentStopped);
            EXPECT_TRUE(report.plistRemoved);
        }
        EXPECT_NE(manager->run({"is-active", unit}), 0) << teardown;
        EXPECT_FALSE(std::filesystem::is_symlink(wanted)) << teardown;
        EXPECT_FALSE(install.agent().isLoaded()) << teardown;
    }
}

} // namespace
} // namespace meterly::config
