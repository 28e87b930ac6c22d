#pragma once

#include "core/Time.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::state {

// One look at every link between Claude Code and the proxy: the base URL in Claude Code's
// settings, the agent, the program the agent starts and the proxy's health check. Gives the
// proxy pane its headline (`verdict`, `summary`) and the text that "Copy diagnostics" puts on the
// clipboard (`supportSummary`).
struct ProxyDiagnostics {
    // Declared in this order; the names also appear in the support summary.
    enum class Verdict { working, notConfigured, agentMissing, notAnswering, binaryMissing };

    std::optional<std::string> baseURL; // none when unset or the settings could not be read
    std::optional<std::uint16_t> port;  // the base URL's explicit port
    bool agentLoaded = false;
    bool answering = false; // the health check answered on 127.0.0.1 at `port`
    std::optional<core::Date> lastTraffic;
    std::string settingsPath;
    std::string backupPath;
    bool backupExists = false;
    std::string agentPlistPath; // the agent's definition file (the systemd unit file here)
    std::string agentLabel;
    std::string environmentName; // "production" or "development"
    // The first word of the installed agent's command line; none without a readable definition.
    std::optional<std::string> installedExecutablePath;
    bool installedExecutableExists = true; // true when there is no path

    bool isProductionInstall() const;
    Verdict verdict() const;
    std::string summary() const;

    // Ten lines joined by line feeds, none after the last.
    std::string supportSummary(const std::optional<std::string>& appVersion) const;

    static std::string_view name(Verdict verdict);

    bool operator==(const ProxyDiagnostics&) const = default;
};

// "2026-03-01T09:15:00Z": a date as an internet date-time in UTC with whole seconds (fractions
// cut). Empty for a date that has no such form: not a number, or outside the years 0000 to 9999.
std::string internetDateTimeUTC(core::Date date);

} // namespace meterly::state
