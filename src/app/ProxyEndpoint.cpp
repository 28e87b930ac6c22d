#include "app/ProxyEndpoint.hpp"

#include "config/ClaudeSettingsFile.hpp"
#include "config/PortSelector.hpp"
#include "config/URLComponents.hpp"

#include <algorithm>

namespace meterly::app {

std::optional<std::uint16_t> ProxyEndpoint::readPort(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : text) {
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535) {
            return std::nullopt;
        }
    }
    if (negative && value != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

std::optional<std::uint16_t>
ProxyEndpoint::explicitPort(std::span<const std::string> arguments,
                            const core::EnvironmentLookup& environment) {
    auto flag = std::find(arguments.begin(), arguments.end(), "--port");
    if (flag != arguments.end() && std::next(flag) != arguments.end()) {
        if (auto port = readPort(*std::next(flag))) {
            return port;
        }
    }
    if (auto value = environment("METERLY_PORT"); value && !value->empty()) {
        return readPort(*value);
    }
    return std::nullopt;
}

std::optional<std::uint16_t>
ProxyEndpoint::configuredPort(const std::filesystem::path& homeDirectory,
                              const core::EnvironmentLookup& environment) {
    try {
        auto inspection =
            config::ClaudeSettingsFile::standard(homeDirectory, environment).inspect();
        if (!inspection.existingBaseURL) {
            return std::nullopt;
        }
        auto components = config::URLComponents::parse(*inspection.existingBaseURL);
        if (!components || !components->port || *components->port > 65535) {
            return std::nullopt;
        }
        return static_cast<std::uint16_t>(*components->port);
    } catch (...) {
        // A missing, unreadable or malformed settings file names no port.
        return std::nullopt;
    }
}

std::uint16_t ProxyEndpoint::resolve(std::span<const std::string> arguments,
                                     const std::filesystem::path& homeDirectory,
                                     const core::EnvironmentLookup& environment) {
    if (auto port = explicitPort(arguments, environment)) {
        return *port;
    }
    if (auto port = configuredPort(homeDirectory, environment)) {
        return *port;
    }
    return config::PortSelector::defaultPort(environment);
}

} // namespace meterly::app
