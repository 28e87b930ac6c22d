#include "ui/settings/ProxyPanePresenter.hpp"

#include "config/InstallEnvironment.hpp"

namespace meterly::ui {

using Kind = state::SetupModel::State::Kind;
using Row = ProxyPaneContent::Row;
using Verdict = state::ProxyDiagnostics::Verdict;

std::string ProxyPanePresenter::lastTrafficText(std::optional<core::Date> lastTraffic,
                                                core::Date now, const state::TextFormatter& texts) {
    if (!lastTraffic) {
        return "none since the proxy started";
    }
    return texts.relative(*lastTraffic, now);
}

std::optional<std::uint16_t>
ProxyPanePresenter::repairPort(const state::ProxyDiagnostics& diagnostics) {
    if (diagnostics.baseURL && diagnostics.agentLoaded && !diagnostics.installedExecutableExists) {
        return diagnostics.port;
    }
    return std::nullopt;
}

ProxyPaneContent ProxyPanePresenter::present(const Input& input,
                                             const state::TextFormatter& texts) {
    ProxyPaneContent content;
    const bool configured = input.setup.kind == Kind::configured;
    content.showsSetupFlow = !configured;
    content.showsDividerAfterFlow = !configured && input.diagnostics.has_value();
    content.showsRestartNote = configured && input.needsSessionRestart;
    content.showsDisconnect = configured;
    content.showsSpinner = !input.diagnostics;
    content.showsDiagnostics = input.diagnostics.has_value();
    if (!input.diagnostics) {
        return content;
    }
    const auto& found = *input.diagnostics;
    content.verdictIsWorking = found.verdict() == Verdict::working;
    content.dotColour = content.verdictIsWorking ? ColourRole::green : ColourRole::orange;
    content.verdict = found.summary();
    content.showsChart = input.requestsByHour && !input.requestsByHour->empty();

    const auto fact = [&](std::string label, std::string value) {
        content.rows.push_back({Row::Kind::fact, std::move(label), std::move(value), {}});
    };
    const auto path = [&](std::string label, const std::string& value) {
        content.rows.push_back({Row::Kind::path, std::move(label), value,
                                input.copiedPath == value ? "Copied" : "Copy"});
    };
    fact("Address", found.baseURL.value_or("not set"));
    fact("Agent", found.agentLabel + " — " + (found.agentLoaded ? "loaded" : "not loaded"));
    fact("Health check", found.answering ? "answering" : "no answer");
    fact("Last request", lastTrafficText(found.lastTraffic, input.now, texts));
    if (found.environmentName != config::InstallEnvironment::production().name) {
        fact("Environment", found.environmentName);
    }
    content.rows.push_back({Row::Kind::spacer, {}, {}, {}});
    path("Settings file", found.settingsPath);
    if (found.backupExists) {
        path("Backup", found.backupPath);
    }
    path("Service unit", found.agentPlistPath);

    content.recheck = {"Re-check", !input.refreshing, true};
    content.restart = {"Restart proxy", found.agentLoaded && !input.restarting, true};
    content.repair = {"Repair", !input.repairing, repairPort(found).has_value()};
    content.copy = {input.copied ? "Copied" : "Copy diagnostics", true, true};
    return content;
}

} // namespace meterly::ui
