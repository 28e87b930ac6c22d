#pragma once

#include "core/Environment.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::config {

// One installation of Meterly: which Claude Code configuration folder it edits, which agent
// label it runs under and where its port scan starts. A development copy ("METERLY_INSTALL=dev")
// runs beside the production copy without touching the production copy's settings or agent.
struct InstallEnvironment {
    std::string name;
    std::string agentLabel;
    std::string configDirectoryName;
    std::uint16_t scanFromPort = 0;

    // The variable that selects the installation.
    static constexpr std::string_view variable = "METERLY_INSTALL";

    static const InstallEnvironment& production();
    static const InstallEnvironment& development();

    // "dev", exactly, selects development; anything else, or no value, selects production.
    static const InstallEnvironment& resolve(std::optional<std::string_view> value);

    // The installation that the environment selects right now; nothing is cached.
    static const InstallEnvironment& current(const core::EnvironmentLookup& environment);
    static const InstallEnvironment& current();

    bool isProduction() const { return name == "production"; }

    bool operator==(const InstallEnvironment&) const = default;
};

} // namespace meterly::config
