#include "config/SystemdUserBackend.hpp"
#include "state/ProxyDiagnosticsReader.hpp"
#include "support/VirtualTimeExecutor.hpp"
#include "support/FakeExecutable.hpp"
#include "support/TempDir.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <sstream>

namespace meterly::state {
namespace {

using testing::FakeExecutable;
using testing::TempDir;
using Verdict = ProxyDiagnostics::Verdict;
using Texts = std::vector<std::string>;

Texts lines(const std::string& text) {
    Texts result;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

ProxyDiagnostics working() {
    ProxyDiagnostics d;
    d.baseURL = "http://127.0.0.1:8787";
    d.port = 8787;
    d.agentLoaded = true;
    d.answering = true;
    d.lastTraffic = 1772356500; // 2026-03-01T09:15:00Z
    d.settingsPath = "/home/u/.claude/settings.json";
    d.backupPath = "/home/u/.claude/settings.json.meterly-backup";
    d.backupExists = true;
    d.agentPlistPath = "/home/u/.config/systemd/user/com.meterly.proxy.service";
    d.agentLabel = "com.meterly.proxy";
    d.environmentName = "production";
    d.installedExecutablePath = "/opt/Meterly.app/Contents/MacOS/meterly";
    d.installedExecutableExists = true;
    return d;
}

TEST(ProxyDiagnosticsTest, VerdictsFollowTheChainInOrder) {
    struct Case {
        std::string name;
        std::function<void(ProxyDiagnostics&)> change;
        Verdict verdict;
        std::string summary;
    };
    const Case cases[] = {
        {"all well", [](ProxyDiagnostics&) {}, Verdict::working,
         "Claude Code is going through Meterly."},
        {"no base URL, nothing else either",
         [](ProxyDiagnostics& d) {
             d.baseURL.reset();
             d.agentLoaded = false;
             d.installedExecutableExists = false;
         },
         Verdict::notConfigured, "Claude Code is not pointed at Meterly."},
        {"another service, no agent",
         [](ProxyDiagnostics& d) {
             d.baseURL = "https://gateway.example.com";
             d.agentLoaded = false;
             d.installedExecutableExists = false;
         },
         Verdict::agentMissing, "The proxy is not installed, but Claude Code still points at it."},
        {"program gone", [](ProxyDiagnostics& d) { d.installedExecutableExists = false; },
         Verdict::binaryMissing,
         "The proxy's program has been moved or deleted. Meterly can repair this."},
        {"silent", [](ProxyDiagnostics& d) { d.answering = false; }, Verdict::notAnswering,
         "The proxy is installed but not answering."},
    };
    for (const auto& c : cases) {
        auto d = working();
        c.change(d);
        EXPECT_EQ(d.verdict(), c.verdict) << c.name;
        EXPECT_EQ(d.summary(), c.summary) << c.name;
    }
    auto dev = working();
    EXPECT_TRUE(dev.isProductionInstall());
    dev.environmentName = "development";
    EXPECT_FALSE(dev.isProductionInstall());
}

TEST(ProxyDiagnosticsTest, TheSupportSummaryLineByLine) {
    EXPECT_EQ(lines(working().supportSummary("1.0.7")),
              (Texts{"Meterly 1.0.7 \u2014 production", "verdict: working",
                     "base URL: http://127.0.0.1:8787", "agent com.meterly.proxy: loaded",
                     "agent binary: /opt/Meterly.app/Contents/MacOS/meterly",
                     "health check: answering", "settings: /home/u/.claude/settings.json",
                     "backup: /home/u/.claude/settings.json.meterly-backup",
                     "agent plist: /home/u/.config/systemd/user/com.meterly.proxy.service",
                     "last request through the proxy: 2026-03-01T09:15:00Z"}));

    auto d = working();
    d.baseURL.reset();
    d.agentLoaded = false;
    d.answering = false;
    d.backupExists = false;
    d.lastTraffic.reset();
    d.installedExecutableExists = false;
    d.environmentName = "development";
    auto text = d.supportSummary(std::nullopt);
    EXPECT_NE(text.back(), '\n');
    EXPECT_EQ(
        lines(text),
        (Texts{"Meterly unknown \u2014 development", "verdict: notConfigured", "base URL: not set",
               "agent com.meterly.proxy: not loaded",
               "agent binary: /opt/Meterly.app/Contents/MacOS/meterly (missing)",
               "health check: no answer", "settings: /home/u/.claude/settings.json", "backup: none",
               "agent plist: /home/u/.config/systemd/user/com.meterly.proxy.service",
               "last request through the proxy: none since it started"}));
    d.installedExecutablePath.reset();
    EXPECT_EQ(lines(d.supportSummary("2.0"))[4], "agent binary: no plist");

    // Fractions of a second are cut, not rounded; the verdict names cover every case.
    EXPECT_EQ(internetDateTimeUTC(1772356500.999), "2026-03-01T09:15:00Z");
    EXPECT_EQ(ProxyDiagnostics::name(Verdict::agentMissing), "agentMissing");
    EXPECT_EQ(ProxyDiagnostics::name(Verdict::notAnswering), "notAnswering");
    EXPECT_EQ(ProxyDiagnostics::name(Verdict::binaryMissing), "binaryMissing");
}

TEST(ProxyDiagnosticsTest, ALastRequestTimeThatNoDateCanShowIsUnknown) {
    // The time comes from the proxy's status document: any number may stand there.
    const double infinity = std::numeric_limits<double>::infinity();
    struct Case {
        double lastTraffic;
        std::string line;
    };
    const Case cases[] = {
        {1772356500.999, "2026-03-01T09:15:00Z"},
        {0, "1970-01-01T00:00:00Z"},
        {-0.5, "1969-12-31T23:59:59Z"},
        {-1e9, "1938-04-24T22:13:20Z"},
        {-62167219200, "0000-01-01T00:00:00Z"},
        {253402300799.9, "9999-12-31T23:59:59Z"},
        {-62167219200.5, "unknown"},
        {253402300800, "unknown"},
        {1e17, "unknown"},
        {-1e17, "unknown"},
        {1e300, "unknown"},
        {-1e300, "unknown"},
        {std::numeric_limits<double>::max(), "unknown"},
        {infinity, "unknown"},
        {-infinity, "unknown"},
        {std::numeric_limits<double>::quiet_NaN(), "unknown"},
    };
    for (const auto& c : cases) {
        auto d = working();
        d.lastTraffic = c.lastTraffic;
        EXPECT_EQ(lines(d.supportSummary("1.0.7")).back(),
                  "last request through the proxy: " + c.line)
            << c.lastTraffic;
    }
}

// Claude Code's settings and the agent's unit in a temporary home, a fake systemctl, and a probe
// that records the ports it is asked about.
class ProxyDiagnosticsReaderTest : public ::testing::Test {
protected:
    ProxyDiagnosticsReaderTest() {
        home.write("Meterly.app/Contents/MacOS/meterly", "#!/bin/sh\n");
    }
    config::LaunchAgentManager agent(const std::string& executable, std::uint16_t port = 0) const {
        auto none = [](std::string_view) { return std::optional<std::string>(); };
        return config::LaunchAgentManager(
            config::LaunchAgentSpec::proxy(executable, port, "com.meterly.proxy", {"--proxy"},
                                           none),
            home.path(),
            std::make_shared<config::SystemdUserBackend>(
                std::make_shared<config::PosixProcessRunner>(), none, systemctl.path().string()));
    }
    ProxyDiagnosticsReader reader(core::EnvironmentLookup environment = {}) {
        if (!environment) {
            environment = [](std::string_view) { return std::optional<std::string>(); };
        }
        return ProxyDiagnosticsReader(
            config::ClaudeSettingsFile(home.path() / ".claude/settings.json"),
            agent("/unused-for-inspection"), environment, {}, [this](std::uint16_t port) {
                probed.push_back(port);
                return port == 8787;
            });
    }
    std::string executable() const {
        return (home.path() / "Meterly.app/Contents/MacOS/meterly").string();
    }
    void writeBaseURL(const std::string& baseURL) const {
        home.write(".claude/settings.json",
                   "{\"env\": {\"ANTHROPIC_BASE_URL\": \"" + baseURL + "\"}}");
    }
    void agentLoaded(bool loaded) {
        systemctl.answer("is-enabled", {loaded ? 0 : 1});
        systemctl.answer("is-active", {loaded ? 0 : 3});
    }

    TempDir home;
    TempDir tools;
    FakeExecutable systemctl{tools.path(), "systemctl"};
    std::vector<std::uint16_t> probed;
};

TEST_F(ProxyDiagnosticsReaderTest, ReadingTurnsEveryLinkIntoData) {
    const std::string gone = (home.path() / "Gone/meterly").string();
    struct Case {
        std::string name;
        std::optional<std::string> settings; // raw file, none for no file
        bool loaded;
        std::optional<std::string> unitExecutable;
        Verdict verdict;
        std::vector<std::uint16_t> probed;
    };
    auto base = [](const std::string& url) {
        return "{\"env\": {\"ANTHROPIC_BASE_URL\": \"" + url + "\"}}";
    };
    const Case cases[] = {
        {"no settings", std::nullopt, true, executable(), Verdict::notConfigured, {}},
        {"no base URL", "{}", true, executable(), Verdict::notConfigured, {}},
        {"unreadable settings", "{oops", true, executable(), Verdict::notConfigured, {}},
        {"working", base("http://127.0.0.1:8787"), true, executable(), Verdict::working, {8787}},
        {"silent",
         base("http://127.0.0.1:9100"),
         true,
         executable(),
         Verdict::notAnswering,
         {9100}},
        {"no port", base("http://localhost"), true, executable(), Verdict::notAnswering, {}},
        {"no unit file",
         base("http://localhost:8787"),
         true,
         std::nullopt,
         Verdict::working,
         {8787}},
        {"program deleted",
         base("http://127.0.0.1:8787"),
         true,
         gone,
         Verdict::binaryMissing,
         {8787}},
        {"no agent",
         base("http://127.0.0.1:8787"),
         false,
         std::nullopt,
         Verdict::agentMissing,
         {8787}},
        // Only the proxy on this machine is probed, whatever answers on that port here.
        {"remote service",
         base("https://gateway.example.com:8787"),
         false,
         std::nullopt,
         Verdict::agentMissing,
         {}},
        {"remote service with an agent",
         base("https://gateway.example.com:8787"),
         true,
         executable(),
         Verdict::notAnswering,
         {}},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(home.path() / ".claude");
        std::filesystem::remove_all(home.path() / ".config");
        if (c.settings) {
            home.write(".claude/settings.json", *c.settings);
        }
        if (c.unitExecutable) {
            agent(*c.unitExecutable, 8787).writePlist();
        }
        agentLoaded(c.loaded);
        probed.clear();

        auto found = reader().read(std::nullopt);
        EXPECT_EQ(found.verdict(), c.verdict) << c.name;
        EXPECT_EQ(probed, c.probed) << c.name;
        EXPECT_EQ(found.agentLoaded, c.loaded) << c.name;
        EXPECT_EQ(found.installedExecutablePath, c.unitExecutable) << c.name;
        EXPECT_EQ(found.installedExecutableExists, c.unitExecutable != gone) << c.name;
        EXPECT_EQ(found.settingsPath, (home.path() / ".claude/settings.json").string());
        EXPECT_EQ(found.backupPath,
                  (home.path() / ".claude/settings.json.meterly-backup").string());
        EXPECT_EQ(found.agentPlistPath,
                  (home.path() / ".config/systemd/user/com.meterly.proxy.service").string());
        EXPECT_EQ(found.agentLabel, "com.meterly.proxy");
        EXPECT_EQ(found.environmentName, "production");
    }

    writeBaseURL("http://127.0.0.1:8787");
    home.write(".claude/settings.json.meterly-backup", "{}");
    auto dev =
        reader([](std::string_view name) -> std::optional<std::string> {
            return name == "METERLY_INSTALL" ? std::optional<std::string>("dev") : std::nullopt;
        }).read(1772356500);
    EXPECT_EQ(dev.baseURL, "http://127.0.0.1:8787");
    EXPECT_EQ(dev.port, 8787);
    EXPECT_TRUE(dev.backupExists);
    EXPECT_EQ(dev.lastTraffic, 1772356500);
    EXPECT_EQ(dev.environmentName, "development");
}

TEST_F(ProxyDiagnosticsReaderTest, ReadingAndRestartingRunOnTheWorker) {
    VirtualTimeExecutor main;
    BlockingWorker worker(main);
    writeBaseURL("http://127.0.0.1:8787");
    agentLoaded(true);
    std::optional<ProxyDiagnostics> found;
    reader().read(worker, 1772356500, [&](ProxyDiagnostics d) { found = std::move(d); });
    EXPECT_FALSE(found); // nothing is read on the caller's thread
    ASSERT_TRUE(main.runUntil([&] { return found.has_value(); }));
    EXPECT_EQ(found->verdict(), Verdict::working);

    systemctl.clearCalls();
    std::optional<bool> restarted;
    reader().restartAgent(worker, [&](Outcome<bool> outcome) { restarted = outcome.ok(); });
    ASSERT_TRUE(main.runUntil([&] { return restarted.has_value(); }));
    EXPECT_TRUE(*restarted);
    EXPECT_EQ(systemctl.calls(),
              (Texts{"--user daemon-reload", "--user restart com.meterly.proxy.service"}));

    systemctl.answer("restart", {1}, "Unit com.meterly.proxy.service is masked.");
    std::optional<std::string> failure;
    reader().restartAgent(worker, [&](Outcome<bool> outcome) {
        try {
            outcome.get();
            failure = "";
        } catch (const config::LaunchAgentError& error) {
            failure = std::string(error.what());
        }
    });
    ASSERT_TRUE(main.runUntil([&] { return failure.has_value(); }));
    EXPECT_EQ(*failure,
              "systemctl restart failed (exit 1): Unit com.meterly.proxy.service is masked.");
}

TEST(ProxyDiagnosticsReaderStandardTest, TheSettingsWindowsReaderLooksAtTheCurrentInstallation) {
    TempDir home;
    auto reader = ProxyDiagnosticsReader::standard(home.path());
    EXPECT_EQ(reader.agent().spec().programArguments.front(), "/unused-for-inspection");
    EXPECT_EQ(reader.agent().homeDirectory(), home.path());
    EXPECT_EQ(reader.settings().url().filename(), "settings.json");
}

} // namespace
} // namespace meterly::state
