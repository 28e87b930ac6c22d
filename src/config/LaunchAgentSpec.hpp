#pragma once

#include "core/Environment.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace meterly::config {

// The property-list serialiser could not render a property list.
class PropertyListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The per-user agent that runs the proxy role: its command line, environment and restart rules,
// and the property list that describes it to launchd. It does no file or process work itself.
struct LaunchAgentSpec {
    std::string label;
    std::vector<std::string> programArguments; // executable first
    bool keepAlive = false;                    // restart the process whenever it exits
    bool runAtLoad = false;                    // start the process as soon as the agent is loaded
    std::map<std::string, std::string> environment;
    std::optional<std::int64_t> throttleInterval; // minimum seconds between restarts
    std::optional<std::string> workingDirectory;
    std::optional<std::string> standardOutPath;
    std::optional<std::string> standardErrorPath;

    LaunchAgentSpec() = default;
    LaunchAgentSpec(std::string label_, std::vector<std::string> programArguments_, bool keepAlive_,
                    bool runAtLoad_, std::map<std::string, std::string> environment_,
                    std::optional<std::int64_t> throttleInterval_ = std::nullopt,
                    std::optional<std::string> workingDirectory_ = std::nullopt,
                    std::optional<std::string> standardOutPath_ = std::nullopt,
                    std::optional<std::string> standardErrorPath_ = std::nullopt)
        : label(std::move(label_)), programArguments(std::move(programArguments_)),
          keepAlive(keepAlive_), runAtLoad(runAtLoad_), environment(std::move(environment_)),
          throttleInterval(throttleInterval_), workingDirectory(std::move(workingDirectory_)),
          standardOutPath(std::move(standardOutPath_)),
          standardErrorPath(std::move(standardErrorPath_)) {}

    bool operator==(const LaunchAgentSpec&) const = default;

    using PropertyListValue =
        std::variant<std::string, bool, std::int64_t, std::vector<std::string>,
                     std::map<std::string, std::string>>;
    using PropertyList = std::map<std::string, PropertyListValue>;

    // "Label", "ProgramArguments", "KeepAlive", "RunAtLoad" and "ProcessType" ("Interactive")
    // always; "EnvironmentVariables" when the environment is not empty; the optional keys when set.
    PropertyList propertyList() const;

    // The property list in the XML format. Keys are written in sorted order, so equal specs give
    // identical bytes. Throws PropertyListError.
    std::string plistData() const;
    std::string plistXML() const;

    // label + ".plist".
    std::string plistFileName() const;
    // <home>/Library/LaunchAgents
    static std::filesystem::path userLaunchAgentsDirectory(const std::filesystem::path& home);
    // <home>/Library/LaunchAgents/<label>.plist
    std::filesystem::path userPlistURL(const std::filesystem::path& home) const;

    // The agent label of the installation that METERLY_INSTALL selects now.
    static std::string defaultLabel();
    static std::string defaultLabel(const core::EnvironmentLookup& environment);

    // The proxy agent: [executablePath] + extraArguments + ["--port", port], kept alive, started
    // at load, throttled to 10 s, with METERLY_PORT in its environment and METERLY_INSTALL=dev
    // when `environment` selects the development installation.
    static LaunchAgentSpec proxy(const std::string& executablePath, std::uint16_t port,
                                 const std::string& label,
                                 const std::vector<std::string>& extraArguments);
    static LaunchAgentSpec proxy(const std::string& executablePath, std::uint16_t port,
                                 const std::string& label,
                                 const std::vector<std::string>& extraArguments,
                                 const core::EnvironmentLookup& environment);
};

} // namespace meterly::config
