#include "ui/settings/ProxyPanePresenter.hpp"

#include <gtest/gtest.h>

namespace meterly::ui {
namespace {

using State = state::SetupModel::State;
using Row = ProxyPaneContent::Row;
using Rows = std::vector<Row>;

constexpr core::Date now = 1'800'000'000;

core::EnvironmentLookup utc() {
    return [](std::string_view name) -> std::optional<std::string> {
        if (name == "TZ") {
            return "UTC";
        }
        return std::nullopt;
    };
}

state::ProxyDiagnostics working() {
    state::ProxyDiagnostics found;
    found.baseURL = "http://127.0.0.1:8787";
    found.port = 8787;
    found.agentLoaded = true;
    found.answering = true;
    found.settingsPath = "/home/u/.claude/settings.json";
    found.backupPath = "/home/u/.claude/settings.json.meterly-backup";
    found.backupExists = false;
    found.agentPlistPath = "/home/u/.config/systemd/user/com.meterly.proxy.service";
    found.agentLabel = "com.meterly.proxy";
    found.environmentName = "production";
    return found;
}

TEST(ProxyPanePresenterTest, BlocksFollowTheSetupStateAndTheFirstRead) {
    struct Case {
        std::string name;
        State setup;
        bool restart;
        bool read;
        bool flow, divider, note, spinner, details, disconnect;
    };
    const Case cases[] = {
        {"not configured, before the read", State::notConfigured(), false, false, true, false,
         false, true, false, false},
        {"not configured, read", State::notConfigured(), false, true, true, true, false, false,
         true, false},
        {"working", State::working(), false, true, true, true, false, false, true, false},
        {"configured with note", State::configured(8787), true, true, false, false, true, false,
         true, true},
        {"configured", State::configured(8787), false, true, false, false, false, false, true,
         true},
        {"configured, before the read", State::configured(8787), false, false, false, false, false,
         true, false, true},
    };
    state::TextFormatter texts(utc());
    for (const auto& c : cases) {
        ProxyPanePresenter::Input input;
        input.setup = c.setup;
        input.needsSessionRestart = c.restart;
        if (c.read) {
            input.diagnostics = working();
        }
        auto content = ProxyPanePresenter::present(input, texts);
        EXPECT_EQ(content.showsSetupFlow, c.flow) << c.name;
        EXPECT_EQ(content.showsDividerAfterFlow, c.divider) << c.name;
        EXPECT_EQ(content.showsRestartNote, c.note) << c.name;
        EXPECT_EQ(content.showsSpinner, c.spinner) << c.name;
        EXPECT_EQ(content.showsDiagnostics, c.details) << c.name;
        EXPECT_EQ(content.showsDisconnect, c.disconnect) << c.name;
    }
}

TEST(ProxyPanePresenterTest, DetailsRows) {
    state::TextFormatter texts(utc());
    ProxyPanePresenter::Input input;
    input.setup = State::configured(8787);
    input.now = now;
    input.diagnostics = working();
    auto content = ProxyPanePresenter::present(input, texts);
    EXPECT_TRUE(content.verdictIsWorking);
    EXPECT_EQ(content.dotColour, ColourRole::green);
    EXPECT_EQ(content.verdict, "Claude Code is going through Meterly.");
    EXPECT_EQ(content.rows,
              (Rows{{Row::Kind::fact, "Address", "http://127.0.0.1:8787", ""},
                    {Row::Kind::fact, "Agent", "com.meterly.proxy — loaded", ""},
                    {Row::Kind::fact, "Health check", "answering", ""},
                    {Row::Kind::fact, "Last request", "none since the proxy started", ""},
                    {Row::Kind::spacer, "", "", ""},
                    {Row::Kind::path, "Settings file", "/home/u/.claude/settings.json", "Copy"},
                    {Row::Kind::path, "Service unit",
                     "/home/u/.config/systemd/user/com.meterly.proxy.service", "Copy"}}));

    // A development copy, a backup, nothing configured, a copied path, a last request.
    auto& found = *input.diagnostics;
    found.baseURL.reset();
    found.port.reset();
    found.agentLoaded = false;
    found.answering = false;
    found.environmentName = "development";
    found.backupExists = true;
    found.lastTraffic = now - 120;
    input.copiedPath = found.backupPath;
    content = ProxyPanePresenter::present(input, texts);
    EXPECT_FALSE(content.verdictIsWorking);
    EXPECT_EQ(content.dotColour, ColourRole::orange);
    EXPECT_EQ(content.verdict, "Claude Code is not pointed at Meterly.");
    EXPECT_EQ(content.rows[0].value, "not set");
    EXPECT_EQ(content.rows[1].value, "com.meterly.proxy — not loaded");
    EXPECT_EQ(content.rows[2].value, "no answer");
    EXPECT_EQ(content.rows[3].value, "2 minutes ago");
    EXPECT_EQ(content.rows[4], (Row{Row::Kind::fact, "Environment", "development", ""}));
    EXPECT_EQ(content.rows[7], (Row{Row::Kind::path, "Backup", found.backupPath, "Copied"}));
    EXPECT_EQ(content.rows[6].copyTitle, "Copy");
}

TEST(ProxyPanePresenterTest, ButtonsAndChart) {
    state::TextFormatter texts(utc());
    struct Case {
        std::string name;
        std::function<void(ProxyPanePresenter::Input&)> change;
        bool recheck, restart, repairShown, chart;
        std::string copy;
    };
    const std::vector<history::RequestBucket> empty24(24, history::RequestBucket{now, 0, 0});
    const Case cases[] = {
        {"plain", [](auto&) {}, true, true, false, false, "Copy diagnostics"},
        {"refreshing", [](auto& in) { in.refreshing = true; }, false, true, false, false,
         "Copy diagnostics"},
        {"restarting", [](auto& in) { in.restarting = true; }, true, false, false, false,
         "Copy diagnostics"},
        {"agent not loaded", [](auto& in) { in.diagnostics->agentLoaded = false; }, true, false,
         false, false, "Copy diagnostics"},
        {"binary missing",
         [](auto& in) {
             in.diagnostics->installedExecutablePath = "/gone/meterly";
             in.diagnostics->installedExecutableExists = false;
         },
         true, true, true, false, "Copy diagnostics"},
        {"binary missing, no port",
         [](auto& in) {
             in.diagnostics->installedExecutableExists = false;
             in.diagnostics->port.reset();
         },
         true, true, false, false, "Copy diagnostics"},
        {"binary missing, agent gone",
         [](auto& in) {
             in.diagnostics->installedExecutableExists = false;
             in.diagnostics->agentLoaded = false;
         },
         true, false, false, false, "Copy diagnostics"},
        {"copied", [](auto& in) { in.copied = true; }, true, true, false, false, "Copied"},
        {"empty history list",
         [](auto& in) { in.requestsByHour = std::vector<history::RequestBucket>(); }, true, true,
         false, false, "Copy diagnostics"},
        {"quiet history", [&](auto& in) { in.requestsByHour = empty24; }, true, true, false, true,
         "Copy diagnostics"},
    };
    for (const auto& c : cases) {
        ProxyPanePresenter::Input input;
        input.setup = State::configured(8787);
        input.diagnostics = working();
        c.change(input);
        auto content = ProxyPanePresenter::present(input, texts);
        EXPECT_EQ(content.recheck.enabled, c.recheck) << c.name;
        EXPECT_EQ(content.restart.enabled, c.restart) << c.name;
        EXPECT_EQ(content.repair.shown, c.repairShown) << c.name;
        EXPECT_EQ(content.showsChart, c.chart) << c.name;
        EXPECT_EQ(content.copy.title, c.copy) << c.name;
    }
}

} // namespace
} // namespace meterly::ui
