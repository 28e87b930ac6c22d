#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace meterly::config {

// A failure of the launch agent's service manager or of its definition file. what() gives the
// sentence shown to the user.
class LaunchAgentError : public std::exception {
public:
    enum class Kind {
        launchctlFailed, // "launchctl <command> failed (exit <status>): <output>"
        systemctlFailed, // "systemctl <command> failed (exit <status>): <output>"
        io,              // "I/O error on <path>: <reason>"
    };

    static LaunchAgentError launchctlFailed(std::string command, std::int32_t status,
                                            std::string output);
    static LaunchAgentError systemctlFailed(std::string command, std::int32_t status,
                                            std::string output);
    static LaunchAgentError io(std::string path, std::string reason);

    Kind kind() const { return kind_; }
    const std::string& command() const { return command_; }
    std::int32_t status() const { return status_; }
    const std::string& output() const { return output_; }
    const std::string& path() const { return path_; }
    const std::string& reason() const { return reason_; }

    // The sentence shown to the user.
    const char* what() const noexcept override { return description_.c_str(); }

    bool operator==(const LaunchAgentError& other) const;

private:
    LaunchAgentError(Kind kind, std::string command, std::int32_t status, std::string output,
                     std::string path, std::string reason);

    Kind kind_;
    std::string command_;
    std::int32_t status_ = 0;
    std::string output_;
    std::string path_;
    std::string reason_;
    std::string description_;
};

} // namespace meterly::config
