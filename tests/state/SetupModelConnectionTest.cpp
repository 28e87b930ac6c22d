// The setup model over the real installer, the real proxy (`meterly --proxy`) and, where this
// machine allows one, a real systemd user manager; elsewhere a recording systemctl stands in for
// the manager and the test starts the proxy the way the manager would.

#include "StateTestSupport.hpp"
#include "config/ConfigError.hpp"
#include "config/PortSelector.hpp"
#include "config/SystemdUserBackend.hpp"
#include "state/SetupModel.hpp"
#include "support/VirtualTimeExecutor.hpp"
#include "support/ChildProcess.hpp"
#include "support/FakeExecutable.hpp"
#include "support/LocalHTTPServer.hpp"
#include "support/SystemdUserManager.hpp"
#include "support/TempDir.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <iostream>
#include <mutex>

namespace meterly::state {
namespace {

using config::ClaudeSettingsFile;
using config::ConfigError;
using config::PortSelector;
using config::ProxyInstaller;
using meterly::testing::ChildProcess;
using meterly::testing::FakeExecutable;
using meterly::testing::ReservedPort;
using meterly::testing::SystemdUserManager;
using meterly::testing::TempDir;
using State = SetupModel::State;

const std::string unit = "com.meterly.proxy.service";

core::EnvironmentLookup noVariables() {
    return [](std::string_view) { return std::optional<std::string>(); };
}

class SetupModelConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        home.write("Silent/meterly", "#!/bin/sh\nexec sleep 600\n");
        std::filesystem::permissions(home.path() / "Silent/meterly",
                                     std::filesystem::perms::owner_all);
        ReservedPort free;
        port = free.port();
        free.release();

        std::string whyNot;
        manager = SystemdUserManager::start(home.path(), whyNot);
        if (!manager) {
            std::cerr << "[ NOTE     ] no systemd user manager here (" << whyNot
                      << "); the recording systemctl stands in for it\n";
            fake = std::make_unique<FakeExecutable>(tools.path(), "systemctl");
            fake->answer("is-enabled", {1});
            fake->answer("is-active", {3});
        }
    }

    std::filesystem::path systemctl() const {
        return manager ? manager->systemctl() : fake->path();
    }
    ProxyInstaller installer(std::uint16_t onPort, const std::string& executable) const {
        return ProxyInstaller::standard(executable, onPort, home.path(), noVariables(),
                                        std::make_shared<config::SystemdUserBackend>(
                                            std::make_shared<config::PosixProcessRunner>(),
                                            noVariables(), systemctl().string()));
    }
    std::unique_ptr<SetupModel> makeModel(const std::string& executable) {
        SetupModel::Options options;
        options.scanFrom = port;
        options.portProbe = [](std::uint16_t) { return false; };
        options.installProbe = [this, executable](std::uint16_t onPort) {
            if (!manager && executable == METERLY_EXECUTABLE) {
                // What the user manager would do on the fake's "restart".
                std::lock_guard lock(mutex);
                proxy = std::make_unique<ChildProcess>(
                    std::vector<std::string>{executable, "--proxy", "--port",
                                             std::to_string(onPort)},
                    std::vector<std::string>{"HOME=" + home.path().string()});
            }
            // The real proxy needs a moment to come up, longer on a loaded machine under the
            // sanitizers: up to 240 tries 0.25 s apart. A proxy that never answers is given 4.
            int attempts = executable == METERLY_EXECUTABLE ? 240 : 4;
            return std::optional(config::ProxyHealthProbe(onPort, "127.0.0.1", attempts, 0.25));
        };
        return std::make_unique<SetupModel>(
            worker, ClaudeSettingsFile(home.path() / ".claude/settings.json"),
            [this, executable](std::uint16_t onPort) {
                return std::optional(installer(onPort, executable));
            },
            true, std::move(options));
    }
    void settle() { ASSERT_TRUE(state::testing::settle(main, worker, std::chrono::seconds(150))); }
    void writeBaseURL(const std::string& baseURL) const {
        home.write(".claude/settings.json",
                   "{\n  \"model\": \"opus\",\n  \"env\": {\"ANTHROPIC_BASE_URL\": \"" + baseURL +
                       "\"}\n}\n");
    }
    std::optional<std::string> settingsBytes() const {
        auto path = home.path() / ".claude/settings.json";
        return std::filesystem::exists(path) ? std::optional(home.read(path)) : std::nullopt;
    }
    bool unitExists() const {
        return std::filesystem::exists(home.path() / ".config/systemd/user" / unit);
    }
    bool answering() const {
        return config::ProxyHealthProbe(port, "127.0.0.1", 1, 0.1).isHealthy();
    }
    // Nothing of the agent is left: no unit file, and the manager neither has it nor runs it.
    void expectNoAgent() {
        EXPECT_FALSE(unitExists());
        if (manager) {
            EXPECT_NE(manager->run({"is-enabled", unit}), 0);
            EXPECT_NE(manager->run({"is-active", unit}), 0);
            EXPECT_FALSE(answering());
        } else {
            // After the last start, the unit was disabled and stopped.
            auto calls = fake->calls();
            auto started = std::find(calls.rbegin(), calls.rend(), "--user restart " + unit);
            auto since = std::vector<std::string>(started.base(), calls.end());
            auto disabled = std::find(since.begin(), since.end(), "--user disable " + unit);
            EXPECT_NE(disabled, since.end());
            EXPECT_NE(std::find(disabled, since.end(), "--user stop " + unit), since.end());
        }
    }

    TempDir home;
    TempDir tools;
    std::uint16_t port = 0;
    std::unique_ptr<SystemdUserManager> manager;
    std::unique_ptr<FakeExecutable> fake;
    std::mutex mutex;
    std::unique_ptr<ChildProcess> proxy;
    VirtualTimeExecutor main;
    BlockingWorker worker{main};
};

TEST_F(SetupModelConnectionTest, InstallConnectsAndDisconnectPutsTheEarlierBaseURLBack) {
    writeBaseURL("https://gateway.example.com");
    const auto before = settingsBytes();
    auto model = makeModel(METERLY_EXECUTABLE);

    // Another base URL: the agent is started, then taken away again; the settings are untouched.
    model->setUp();
    settle();
    EXPECT_EQ(model->state(), State::conflict("https://gateway.example.com", false));
    EXPECT_EQ(settingsBytes(), before);
    expectNoAgent();
    proxy.reset();

    // Replacing it installs the unit and the base URL, and the proxy answers.
    model->resolveConflict(false);
    settle();
    ASSERT_EQ(model->state(), State::configured(port))
        << (manager ? manager->diagnostics(unit) : "");
    EXPECT_TRUE(model->needsSessionRestart());
    auto inspection = model->settings().inspect();
    EXPECT_EQ(inspection.existingBaseURL, PortSelector::baseURL(port));
    EXPECT_TRUE(inspection.backupExists);
    EXPECT_TRUE(unitExists());
    EXPECT_TRUE(answering());
    if (manager) {
        EXPECT_EQ(manager->run({"is-enabled", unit}), 0);
        EXPECT_EQ(manager->run({"is-active", unit}), 0);
    }

    // Disconnecting puts the earlier base URL back and takes the agent away.
    model->disconnect();
    settle();
    EXPECT_EQ(model->state(), State::notConfigured());
    inspection = model->settings().inspect();
    EXPECT_EQ(inspection.existingBaseURL, "https://gateway.example.com");
    EXPECT_FALSE(inspection.backupExists);
    expectNoAgent();
}

TEST_F(SetupModelConnectionTest, AProxyThatNeverAnswersLeavesNoAgentAndTheSettingsAlone) {
    auto model = makeModel((home.path() / "Silent/meterly").string());
    model->refresh();
    model->setUp();
    settle();
    EXPECT_EQ(model->state(), State::failed(ConfigError::proxyUnreachable(port, 1).what()));
    EXPECT_EQ(settingsBytes(), std::nullopt);
    expectNoAgent();
}

} // namespace
} // namespace meterly::state
