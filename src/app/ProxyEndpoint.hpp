#pragma once

#include "core/Environment.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace meterly::app {

// Where the proxy listens, and where the app looks for it: the port after "--port", else
// METERLY_PORT, else the port of the base URL in Claude Code's settings, else the installation's
// default port.
class ProxyEndpoint {
public:
    ProxyEndpoint() = delete;

    // The port after the first "--port" argument when it reads as a port, else METERLY_PORT when
    // it is set, not empty and reads as a port.
    static std::optional<std::uint16_t> explicitPort(std::span<const std::string> arguments,
                                                     const core::EnvironmentLookup& environment);

    // The port of env.ANTHROPIC_BASE_URL in the settings file of the current installation under
    // `homeDirectory`. Any failure (no file, unreadable, no base URL, no port) gives none.
    static std::optional<std::uint16_t> configuredPort(const std::filesystem::path& homeDirectory,
                                                       const core::EnvironmentLookup& environment);

    // explicitPort(), else configuredPort(), else the installation's default port.
    static std::uint16_t resolve(std::span<const std::string> arguments,
                                 const std::filesystem::path& homeDirectory,
                                 const core::EnvironmentLookup& environment);

    // A whole base-10 integer from 0 to 65535: digits only, optionally after one "+"; a "-" is
    // accepted only before a value of zero.
    static std::optional<std::uint16_t> readPort(std::string_view text);
};

} // namespace meterly::app
