#pragma once

#include "config/LaunchAgentSpec.hpp"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace meterly::config {

// A spec holds a value that a unit file cannot carry (a control character in a path, an invalid
// variable name, a label that is no unit name, a command without an absolute executable).
class UnitFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The systemd user unit that runs a launch agent's spec: the command line quoted as systemd
// reads it, the environment, "Restart=always" when kept alive with the throttle interval as the
// restart delay, and an [Install] section (so that enabling starts it at login) when it runs at
// load.
class SystemdUnitFile {
public:
    SystemdUnitFile() = delete;

    // "<label>.service"; throws UnitFileError when the label is no valid unit name.
    static std::string unitName(const LaunchAgentSpec& spec);

    // The unit file's text; equal specs give identical bytes. Throws UnitFileError.
    static std::string render(const LaunchAgentSpec& spec);

    // The command line of the last ExecStart= in the [Service] section, unquoted and unescaped
    // as systemd does; nothing when there is none or it cannot be read.
    static std::optional<std::vector<std::string>> programArguments(std::string_view unitFile);
};

} // namespace meterly::config
