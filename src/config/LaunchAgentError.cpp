#include "config/LaunchAgentError.hpp"

namespace meterly::config {

LaunchAgentError::LaunchAgentError(Kind kind, std::string command, std::int32_t status,
                                   std::string output, std::string path, std::string reason)
    : kind_(kind), command_(std::move(command)), status_(status), output_(std::move(output)),
      path_(std::move(path)), reason_(std::move(reason)) {
    switch (kind_) {
    case Kind::launchctlFailed:
    case Kind::systemctlFailed:
        description_ = std::string(kind_ == Kind::launchctlFailed ? "launchctl " : "systemctl ") +
                       command_ + " failed (exit " + std::to_string(status_) + "): " + output_;
        break;
    case Kind::io:
        description_ = "I/O error on " + path_ + ": " + reason_;
        break;
    }
}

LaunchAgentError LaunchAgentError::launchctlFailed(std::string command, std::int32_t status,
                                                   std::string output) {
    return {Kind::launchctlFailed, std::move(command), status, std::move(output), {}, {}};
}

LaunchAgentError LaunchAgentError::systemctlFailed(std::string command, std::int32_t status,
                                                   std::string output) {
    return {Kind::systemctlFailed, std::move(command), status, std::move(output), {}, {}};
}

LaunchAgentError LaunchAgentError::io(std::string path, std::string reason) {
    return {Kind::io, {}, 0, {}, std::move(path), std::move(reason)};
}

bool LaunchAgentError::operator==(const LaunchAgentError& other) const {
    return kind_ == other.kind_ && command_ == other.command_ && status_ == other.status_ &&
           output_ == other.output_ && path_ == other.path_ && reason_ == other.reason_;
}

} // namespace meterly::config
