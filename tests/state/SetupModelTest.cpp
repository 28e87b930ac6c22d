#include "state/SetupModel.hpp"

#include "StateTestSupport.hpp"
#include "config/ConfigError.hpp"
#include "config/PortSelector.hpp"
#include "config/SystemdUnitFile.hpp"
#include "config/SystemdUserBackend.hpp"
#include "support/VirtualTimeExecutor.hpp"
#include "support/FakeExecutable.hpp"
#include "support/LocalHTTPServer.hpp"
#include "support/TempDir.hpp"

#include <gtest/gtest.h>

namespace meterly::state {
namespace {

using config::ClaudeSettingsFile;
using config::ConfigError;
using config::PortSelector;
using config::ProxyInstaller;
using meterly::testing::FakeExecutable;
using meterly::testing::LocalHTTPServer;
using meterly::testing::ReservedPort;
using meterly::testing::TempDir;
using State = SetupModel::State;
using Texts = std::vector<std::string>;

const std::string unit = "com.meterly.proxy.service";

core::EnvironmentLookup noVariables() {
    return [](std::string_view) { return std::optional<std::string>(); };
}

// The systemd backend, able to fail rendering the unit file on request (a definition that cannot
// be written).
class ScriptedBackend final : public config::ServiceBackend {
public:
    explicit ScriptedBackend(std::string systemctl)
        : inner_(std::make_shared<config::PosixProcessRunner>(), noVariables(),
                 std::move(systemctl)) {}
    bool failRender = false;

    std::filesystem::path definitionPath(const config::LaunchAgentSpec& spec,
                                         const std::filesystem::path& home) const override {
        return inner_.definitionPath(spec, home);
    }
    std::string renderDefinition(const config::LaunchAgentSpec& spec) const override {
        if (failRender) {
            throw config::UnitFileError("the unit cannot be written");
        }
        return inner_.renderDefinition(spec);
    }
    std::optional<std::vector<std::string>>
    programArguments(std::string_view definition) const override {
        return inner_.programArguments(definition);
    }
    void bootstrap(const config::LaunchAgentSpec& spec,
                   const std::filesystem::path& definition) override {
        inner_.bootstrap(spec, definition);
    }
    void kickstart(const config::LaunchAgentSpec& spec) override { inner_.kickstart(spec); }
    void bootout(const config::LaunchAgentSpec& spec) override { inner_.bootout(spec); }
    bool isLoaded(const config::LaunchAgentSpec& spec) override { return inner_.isLoaded(spec); }

private:
    config::SystemdUserBackend inner_;
};

// A temporary home with Claude Code's settings, the app's executable inside its bundle, a fake
// systemctl, and a local server standing in for the started proxy.
class SetupModelTest : public ::testing::Test {
protected:
    SetupModelTest() {
        home.write("Applications/Meterly.app/Contents/MacOS/meterly", "#!/bin/sh\n");
        home.write("Other/Meterly.app/Contents/MacOS/meterly", "#!/bin/sh\n");
        ReservedPort free;
        scanFrom = free.port();
        free.release();
        systemctl.answer("is-enabled", {1});
        systemctl.answer("is-active", {3});
    }

    std::string ownExecutable() const {
        return (home.path() / "Applications/Meterly.app/Contents/MacOS/meterly").string();
    }
    std::string otherExecutable() const {
        return (home.path() / "Other/Meterly.app/Contents/MacOS/meterly").string();
    }
    std::filesystem::path settingsPath() const { return home.path() / ".claude/settings.json"; }
    std::filesystem::path unitPath() const { return home.path() / ".config/systemd/user" / unit; }
    ClaudeSettingsFile settings() const { return ClaudeSettingsFile(settingsPath()); }

    ProxyInstaller installer(std::uint16_t port, const std::string& executable) const {
        return ProxyInstaller::standard(executable, port, home.path(), noVariables(), backend);
    }
    SetupModel::MakeInstaller makeInstaller() const {
        return
            [this](std::uint16_t port) { return std::optional(installer(port, ownExecutable())); };
    }

    // The proxy that the agent would start answers at `answeringPort` (the fake's own server
    // by default); nothing waits for real time.
    std::unique_ptr<SetupModel> makeModel(SetupModel::MakeInstaller make = {}) {
        SetupModel::Options options;
        options.bundleReplaced = [this] { return bundleReplaced; };
        options.log = [this](const std::string& line) { logged.push_back(line); };
        options.scanFrom = scanFrom;
        options.portProbe = [this](std::uint16_t port) { return port == proxy.port(); };
        options.installProbe = [this](std::uint16_t) {
            return std::optional(
                config::ProxyHealthProbe(answeringPort ? answeringPort : proxy.port(), "127.0.0.1",
                                         3, 0.5, [](core::Seconds) {}));
        };
        return std::make_unique<SetupModel>(
            worker, settings(), make ? std::move(make) : makeInstaller(), true, std::move(options));
    }

    void writeBaseURL(const std::string& baseURL) const {
        home.write(".claude/settings.json",
                   "{\n  \"model\": \"opus\",\n  \"env\": {\"ANTHROPIC_BASE_URL\": \"" + baseURL +
                       "\"}\n}\n");
    }
    std::optional<std::string> fileBytes(const std::filesystem::path& path) const {
        return std::filesystem::exists(path) ? std::optional(home.read(path)) : std::nullopt;
    }
    void settle() { ASSERT_TRUE(state::testing::settle(main, worker)); }

    TempDir home;
    TempDir tools;
    FakeExecutable systemctl{tools.path(), "systemctl"};
    std::shared_ptr<ScriptedBackend> backend =
        std::make_shared<ScriptedBackend>(systemctl.path().string());
    LocalHTTPServer proxy{[](const std::string&) {
        return std::optional(LocalHTTPServer::reply("HTTP/1.1 200 OK", ""));
    }};
    std::uint16_t answeringPort = 0;
    std::uint16_t scanFrom = 0;
    bool bundleReplaced = false;
    Texts logged;
    VirtualTimeExecutor main;
    BlockingWorker worker{main};
};

TEST_F(SetupModelTest, ANewModelIsCheckingAndReadsNothing) {
    home.write(".claude/settings.json", "not json");
    auto model = makeModel();
    EXPECT_EQ(model->state(), State::checking());
    EXPECT_TRUE(model->isBusy());
    EXPECT_FALSE(model->isConfigured());
    EXPECT_FALSE(model->needsSessionRestart());
    EXPECT_EQ(worker.pending(), 0u);
}

TEST_F(SetupModelTest, RefreshReadsTheSettingsIntoAState) {
    struct Case {
        std::optional<std::string> settings; // none: no file
        bool backup;
        State state;
    };
    const std::string path = settingsPath().string();
    auto failure = [&](const std::string& contents) {
        home.write(".claude/settings.json", contents);
        try {
            settings().inspect();
        } catch (const ConfigError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    const Case cases[] = {
        {std::nullopt, false, State::notConfigured()},
        {"", false, State::notConfigured()},
        {R"({"env": {"OTHER": "1"}})", false, State::notConfigured()},
        {R"({"env": {"ANTHROPIC_BASE_URL": "http://127.0.0.1:8787"}})", false,
         State::configured(8787)},
        {R"({"env": {"ANTHROPIC_BASE_URL": "http://[::1]:9100/"}})", false,
         State::configured(9100)},
        {R"({"env": {"ANTHROPIC_BASE_URL": "http://localhost"}})", true,
         State::conflict("http://localhost", true)},
        {R"({"env": {"ANTHROPIC_BASE_URL": "http://localhost"}})", false,
         State::conflict("http://localhost", false)},
        {R"({"env": {"ANTHROPIC_BASE_URL": "https://gateway.example.com:8787"}})", true,
         State::conflict("https://gateway.example.com:8787", false)},
        {"not json", false, State::failed(failure("not json"))},
        {R"({"env": {"ANTHROPIC_BASE_URL": 8787}})", false,
         State::failed(ConfigError::baseURLIsNotAString(path).what())},
    };
    auto model = makeModel();
    for (const auto& c : cases) {
        std::filesystem::remove(settingsPath());
        std::filesystem::remove(settingsPath().string() + ".meterly-backup");
        if (c.settings) {
            home.write(".claude/settings.json", *c.settings);
        }
        if (c.backup) {
            home.write(".claude/settings.json.meterly-backup", "{}");
        }
        model->refresh();
        EXPECT_EQ(model->state(), c.state) << c.settings.value_or("(no file)");
        EXPECT_FALSE(model->isBusy());
        EXPECT_EQ(model->isConfigured(), c.state.kind == State::Kind::configured);
        settle();
    }
    EXPECT_TRUE(systemctl.calls().empty());
    EXPECT_FALSE(model->needsSessionRestart());
}

TEST_F(SetupModelTest, AConflictIsAskedAboutThenReplacedAndDisconnectPutsTheEarlierValueBack) {
    writeBaseURL("https://gateway.example.com");
    const auto before = fileBytes(settingsPath());
    auto model = makeModel();
    std::vector<std::pair<State, bool>> seen;
    auto watching = model->changed().connect(
        [&] { seen.emplace_back(model->state(), model->needsSessionRestart()); });

    model->setUp();
    EXPECT_EQ(model->state(), State::working());
    EXPECT_TRUE(model->isBusy());
    settle();
    // The installer started the agent, met the other base URL and took the agent away again.
    EXPECT_EQ(model->state(), State::conflict("https://gateway.example.com", false));
    EXPECT_EQ(fileBytes(settingsPath()), before);
    EXPECT_EQ(fileBytes(unitPath()), std::nullopt);
    auto calls = systemctl.calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(Texts(calls.end() - 2, calls.end()),
              (Texts{"--user disable " + unit, "--user stop " + unit}));
    EXPECT_FALSE(model->needsSessionRestart());

    model->resolveConflict(false);
    settle();
    const State connected = State::configured(scanFrom);
    EXPECT_EQ(model->state(), connected);
    EXPECT_TRUE(model->needsSessionRestart());
    EXPECT_EQ(settings().inspect().existingBaseURL, PortSelector::baseURL(scanFrom));
    EXPECT_EQ(fileBytes(unitPath()),
              config::SystemdUnitFile::render(installer(scanFrom, ownExecutable()).agent().spec()));
    // The flag is raised before the state says connected.
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[seen.size() - 2], std::make_pair(State::working(), true));
    EXPECT_EQ(seen.back(), std::make_pair(connected, true));

    // A refresh finds it connected and the agent running this executable: nothing to repair.
    systemctl.clearCalls();
    model->refresh();
    settle();
    EXPECT_EQ(model->state(), connected);
    EXPECT_TRUE(systemctl.calls().empty());

    model->acknowledgeSessionRestart();
    EXPECT_FALSE(model->needsSessionRestart());
    model->disconnect();
    EXPECT_EQ(model->state(), State::working());
    settle();
    EXPECT_EQ(model->state(), State::notConfigured());
    EXPECT_TRUE(model->needsSessionRestart());
    EXPECT_EQ(settings().inspect().existingBaseURL, "https://gateway.example.com");
    EXPECT_FALSE(settings().inspect().backupExists);
    EXPECT_EQ(fileBytes(unitPath()), std::nullopt);

    // The removal left the other value, which the next refresh shows as a conflict again.
    model->refresh();
    EXPECT_EQ(model->state(), State::conflict("https://gateway.example.com", false));
    // A new install clears the flag first.
    model->setUp();
    EXPECT_FALSE(model->needsSessionRestart());
    settle();
}

TEST_F(SetupModelTest, AReusableLoopbackValueIsAdoptedOnItsPort) {
    writeBaseURL("http://localhost");
    home.write(".claude/settings.json.meterly-backup", "{}\n");
    auto model = makeModel();
    model->setUp();
    settle();
    EXPECT_EQ(model->state(), State::conflict("http://localhost", true));
    model->resolveConflict(true);
    settle();
    EXPECT_EQ(model->state(), State::configured(scanFrom));
    EXPECT_EQ(settings().inspect().existingBaseURL, PortSelector::baseURL(scanFrom));
}

TEST_F(SetupModelTest, ActionsWhileWorkingAreIgnored) {
    home.write(".claude/settings.json", "not json");
    auto model = makeModel();
    model->refresh();
    ASSERT_EQ(model->state().kind, State::Kind::failed);
    const State failed = model->state();
    model->setUp();
    model->refresh(); // would show the unreadable file again, but reads nothing while working
    EXPECT_EQ(model->state(), State::working());
    model->disconnect();
    model->setUp();
    model->resolveConflict(true);
    EXPECT_LE(worker.pending(), 1u);
    settle();
    // Only the first install ran; it met the file it could not read and touched no agent.
    EXPECT_EQ(model->state(), failed);
    EXPECT_TRUE(systemctl.calls().empty());
}

TEST_F(SetupModelTest, FailuresShowTheirSentence) {
    ReservedPort silent;
    struct Case {
        std::string name;
        bool withInstaller;
        bool disconnect;
        std::uint16_t answering;
        std::function<std::string()> message;
    };
    const Case cases[] = {
        {"no bundle, install", false, false, 0,
         [] {
             return std::string("Meterly could not locate its own application bundle. Run "
                                "scripts/run to install Meterly.app in ~/.local/share/meterly/ "
                                "and try again.");
         }},
        {"no bundle, disconnect", false, true, 0,
         [] { return std::string(SetupModel::disconnectWithoutBundleMessage); }},
        {"proxy never answers", true, false, silent.port(),
         [this] { return std::string(ConfigError::proxyUnreachable(scanFrom, 2).what()); }},
        {"agent cannot stop", true, true, 0,
         [] { return std::string("systemctl stop failed (exit 1): Unit is masked."); }},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(settingsPath());
        if (c.disconnect) {
            writeBaseURL(PortSelector::baseURL(scanFrom));
        }
        answeringPort = c.answering;
        systemctl.answer("stop", {c.name == "agent cannot stop" ? 1 : 0}, "Unit is masked.");
        auto model = makeModel(c.withInstaller ? makeInstaller() : [](std::uint16_t) {
            return std::optional<ProxyInstaller>();
        });
        model->refresh();
        if (c.disconnect) {
            model->disconnect();
        } else {
            model->setUp();
        }
        settle();
        EXPECT_EQ(model->state(), State::failed(c.message())) << c.name;
        EXPECT_FALSE(model->needsSessionRestart()) << c.name;
        if (!c.disconnect) {
            EXPECT_FALSE(std::filesystem::exists(settingsPath())) << c.name;
            EXPECT_EQ(fileBytes(unitPath()), std::nullopt) << c.name;
        }
    }
}

TEST_F(SetupModelTest, AMovedAgentIsRepairedOnceAndOnlyRestartedAfterAGoodWrite) {
    // The agent runs another copy of the app; the settings point at it.
    installer(8787, otherExecutable()).agent().writePlist();
    writeBaseURL("http://127.0.0.1:8787");
    auto model = makeModel();
    model->refresh();
    EXPECT_EQ(model->state(), State::configured(8787)); // at once, without waiting for the repair
    settle();
    EXPECT_EQ(systemctl.calls(), (Texts{"--user daemon-reload", "--user restart " + unit}));
    EXPECT_EQ(installer(8787, ownExecutable()).agent().installedProgramArguments()->front(),
              ownExecutable());

    // Every later open of the popover refreshes: nothing drifts, nothing restarts.
    systemctl.clearCalls();
    model->refresh();
    model->refresh();
    settle();
    EXPECT_TRUE(systemctl.calls().empty());

    // The other copy takes the agent back: that path was repaired once already.
    installer(8787, otherExecutable()).agent().writePlist();
    model->refresh();
    settle();
    EXPECT_TRUE(systemctl.calls().empty());

    // A vanished executable whose definition cannot be rewritten is not restarted; each refresh
    // tries again, and once the definition can be written it is repaired.
    const std::string gone = (home.path() / "Gone/meterly").string();
    installer(8787, gone).agent().writePlist();
    backend->failRender = true;
    for (int k = 0; k < 3; ++k) {
        model->refresh();
        settle();
    }
    EXPECT_TRUE(systemctl.calls().empty());
    EXPECT_EQ(installer(8787, ownExecutable()).agent().installedProgramArguments()->front(), gone);
    EXPECT_EQ(model->state(), State::configured(8787));
    EXPECT_EQ(logged, Texts(3, "meterly: could not repair the proxy's service: the unit cannot "
                               "be written"));
    backend->failRender = false;
    model->refresh();
    settle();
    EXPECT_EQ(systemctl.calls(), (Texts{"--user daemon-reload", "--user restart " + unit}));
    EXPECT_EQ(installer(8787, ownExecutable()).agent().installedProgramArguments()->front(),
              ownExecutable());
}

TEST_F(SetupModelTest, NoRepairOnceAnUpdateHasReplacedTheBundle) {
    // This process's own executable now names the kept copy; the agent runs the installed app.
    installer(8787, otherExecutable()).agent().writePlist();
    writeBaseURL("http://127.0.0.1:8787");
    bundleReplaced = true;
    auto model = makeModel();
    model->refresh();
    int finished = 0;
    model->repairInstallation(8787, [&finished] { ++finished; });
    settle();
    EXPECT_EQ(model->state(), State::configured(8787));
    EXPECT_EQ(finished, 1) << "a repair the user asked for still says it has ended";
    EXPECT_TRUE(systemctl.calls().empty());
    EXPECT_EQ(installer(8787, ownExecutable()).agent().installedProgramArguments()->front(),
              otherExecutable());
}

TEST_F(SetupModelTest, NoRepairWithoutThisAppsExecutable) {
    const std::string gone = (home.path() / "Gone/meterly").string();
    installer(8787, gone).agent().writePlist();
    writeBaseURL("http://127.0.0.1:8787");
    auto model = makeModel([this](std::uint16_t port) {
        return std::optional(installer(port, (home.path() / "Missing/meterly").string()));
    });
    model->refresh();
    settle();
    EXPECT_TRUE(systemctl.calls().empty());
    EXPECT_EQ(installer(8787, gone).agent().installedProgramArguments()->front(), gone);
}

TEST_F(SetupModelTest, AnEqualStateCausesNoRedraw) {
    writeBaseURL("http://127.0.0.1:8787");
    auto model = makeModel();
    int redraws = 0;
    auto watching = model->changed().connect([&] { ++redraws; });
    model->refresh();
    settle();
    model->refresh();
    settle();
    model->acknowledgeSessionRestart();
    EXPECT_EQ(redraws, 1);
}

TEST_F(SetupModelTest, TryAgainRepeatsTheOperationThatFailed) {
    // A disconnect whose agent cannot be stopped: trying again disconnects, it does not set up.
    writeBaseURL(PortSelector::baseURL(scanFrom));
    installer(scanFrom, ownExecutable()).agent().writePlist();
    systemctl.answer("stop", {1}, "Unit is masked.");
    auto model = makeModel();
    model->refresh();
    settle();
    model->disconnect();
    settle();
    ASSERT_EQ(model->state().kind, State::Kind::failed);
    systemctl.answer("stop", {0});
    systemctl.clearCalls();
    model->retry();
    settle();
    EXPECT_EQ(model->state(), State::notConfigured());
    EXPECT_EQ(settings().inspect().existingBaseURL, std::nullopt);
    EXPECT_EQ(fileBytes(unitPath()), std::nullopt);
    for (const auto& call : systemctl.calls()) {
        EXPECT_EQ(call.find("start"), std::string::npos) << call;
    }

    // A replacement whose proxy never answered: trying again replaces again.
    writeBaseURL("https://gateway.example.com");
    ReservedPort silent;
    answeringPort = silent.port();
    model->resolveConflict(false);
    settle();
    ASSERT_EQ(model->state().kind, State::Kind::failed);
    answeringPort = 0;
    model->retry();
    settle();
    EXPECT_EQ(model->state(), State::configured(scanFrom));
    EXPECT_EQ(settings().inspect().existingBaseURL, PortSelector::baseURL(scanFrom));

    // A settings file that could not be read: trying again sets up.
    model->disconnect();
    settle();
    home.write(".claude/settings.json", "not json");
    model->refresh();
    ASSERT_EQ(model->state().kind, State::Kind::failed);
    home.write(".claude/settings.json", "{}");
    model->retry();
    settle();
    EXPECT_EQ(model->state(), State::configured(scanFrom));
}

TEST_F(SetupModelTest, ARepairTheUserAsksForRunsAgainAndSaysWhenItHasEnded) {
    installer(8787, otherExecutable()).agent().writePlist();
    writeBaseURL("http://127.0.0.1:8787");
    auto model = makeModel();
    model->refresh();
    settle();
    // The other copy takes the agent back; refreshes leave a path repaired once alone.
    installer(8787, otherExecutable()).agent().writePlist();
    systemctl.clearCalls();
    model->refresh();
    settle();
    ASSERT_TRUE(systemctl.calls().empty());

    // Asked for while an automatic repair runs, it waits for that one, then repairs.
    int finished = 0;
    model->repairInstallation(8787);
    model->repairInstallation(8787, [&] {
        ++finished;
        EXPECT_EQ(installer(8787, ownExecutable()).agent().installedProgramArguments()->front(),
                  ownExecutable());
    });
    EXPECT_EQ(finished, 0);
    // The waiting repair starts from the first one's outcome, so settle until it has ended.
    main.runUntil([&] { return finished == 1; }, std::chrono::seconds(20));
    settle();
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(systemctl.calls(), (Texts{"--user daemon-reload", "--user restart " + unit}));

    // Nothing to repair: it still says it has ended.
    model->repairInstallation(8787, [&] { ++finished; });
    settle();
    EXPECT_EQ(finished, 2);
}

} // namespace
} // namespace meterly::state
