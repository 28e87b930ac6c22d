#include "state/ProxyDiagnostics.hpp"

#include "config/InstallEnvironment.hpp"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace meterly::state {

bool ProxyDiagnostics::isProductionInstall() const {
    return environmentName == config::InstallEnvironment::production().name;
}

ProxyDiagnostics::Verdict ProxyDiagnostics::verdict() const {
    if (!baseURL) {
        return Verdict::notConfigured;
    }
    if (!agentLoaded) {
        return Verdict::agentMissing;
    }
    if (!installedExecutableExists) {
        return Verdict::binaryMissing;
    }
    return answering ? Verdict::working : Verdict::notAnswering;
}

std::string ProxyDiagnostics::summary() const {
    switch (verdict()) {
    case Verdict::notConfigured:
        return "Claude Code is not pointed at Meterly.";
    case Verdict::agentMissing:
        return "The proxy is not installed, but Claude Code still points at it.";
    case Verdict::binaryMissing:
        return "The proxy's program has been moved or deleted. Meterly can repair this.";
    case Verdict::working:
        return "Claude Code is going through Meterly.";
    case Verdict::notAnswering:
        break;
    }
    return "The proxy is installed but not answering.";
}

std::string_view ProxyDiagnostics::name(Verdict verdict) {
    switch (verdict) {
    case Verdict::working:
        return "working";
    case Verdict::notConfigured:
        return "notConfigured";
    case Verdict::agentMissing:
        return "agentMissing";
    case Verdict::notAnswering:
        return "notAnswering";
    case Verdict::binaryMissing:
        break;
    }
    return "binaryMissing";
}

std::string ProxyDiagnostics::supportSummary(const std::optional<std::string>& appVersion) const {
    std::string binary = "no plist";
    if (installedExecutablePath) {
        binary = *installedExecutablePath + (installedExecutableExists ? "" : " (missing)");
    }
    std::string lines;
    lines += "Meterly " + appVersion.value_or("unknown") + " \u2014 " + environmentName + "\n";
    lines += "verdict: " + std::string(name(verdict())) + "\n";
    lines += "base URL: " + baseURL.value_or("not set") + "\n";
    lines += "agent " + agentLabel + ": " + (agentLoaded ? "loaded" : "not loaded") + "\n";
    lines += "agent binary: " + binary + "\n";
    lines += std::string("health check: ") + (answering ? "answering" : "no answer") + "\n";
    lines += "settings: " + settingsPath + "\n";
    lines += "backup: " + (backupExists ? backupPath : std::string("none")) + "\n";
    lines += "agent plist: " + agentPlistPath + "\n";
    std::string lastRequest = "none since it started";
    if (lastTraffic) {
        // A time that no date can show (the status document is outside input) is unknown.
        lastRequest = internetDateTimeUTC(*lastTraffic);
        if (lastRequest.empty()) {
            lastRequest = "unknown";
        }
    }
    lines += "last request through the proxy: " + lastRequest;
    return lines;
}

std::string internetDateTimeUTC(core::Date date) {
    // An internet date-time has four digits for the year: 0000-01-01T00:00:00Z to
    // 9999-12-31T23:59:59Z. Checked before the conversion, which is undefined for a value out of
    // the integer's range (and for one that is not a number, which no comparison lets through).
    constexpr double earliest = -62'167'219'200.0;
    constexpr double latest = 253'402'300'799.0;
    const double whole = std::floor(date);
    if (!(whole >= earliest && whole <= latest)) {
        return "";
    }
    auto seconds = static_cast<std::time_t>(whole);
    std::tm parts{};
    if (::gmtime_r(&seconds, &parts) == nullptr) {
        return "";
    }
    char text[96]; // room for any int in every field
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

} // namespace meterly::state
