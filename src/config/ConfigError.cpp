#include "config/ConfigError.hpp"

#include <utility>

namespace meterly::config {

namespace {

std::string sentence(ConfigError::Kind kind, const std::string& path, const std::string& reason,
                     const std::string& existing, std::uint16_t port, int seconds) {
    using Kind = ConfigError::Kind;
    switch (kind) {
    case Kind::malformedJSON:
        return path + " is not valid JSON (" + reason +
               "). Refusing to touch it \u2014 fix or move the file, then re-run.";
    case Kind::rootIsNotAnObject:
        return path + " does not contain a JSON object at its root. Refusing to touch it.";
    case Kind::envIsNotAnObject:
        return path + " has an 'env' key that is not a JSON object. Refusing to touch it.";
    case Kind::baseURLIsNotAString:
        return path +
               " has an 'env.ANTHROPIC_BASE_URL' that is not a string. Refusing to touch it.";
    case Kind::conflictingBaseURL:
        return path + " already sets ANTHROPIC_BASE_URL to " + existing +
               ". Re-run with --force to replace it (the current value is kept in the backup).";
    case Kind::verificationFailed:
        return "Post-write verification of " + path + " failed (" + reason +
               "). The original file was restored.";
    case Kind::backupMissing:
        return "No backup found at " + path + ".";
    case Kind::proxyUnreachable:
        return "The Meterly proxy did not answer on 127.0.0.1:" + std::to_string(port) +
               " within " + std::to_string(seconds) +
               "s. The background agent has been removed and your ~/.claude/settings.json was "
               "NOT modified, so Claude Code is unaffected.";
    case Kind::io:
        return "I/O error on " + path + ": " + reason;
    }
    return {};
}

} // namespace

ConfigError::ConfigError(Kind kind, std::string path, std::string reason, std::string existing,
                         std::uint16_t port, int seconds)
    : kind_(kind), path_(std::move(path)), reason_(std::move(reason)),
      existing_(std::move(existing)), port_(port), seconds_(seconds),
      description_(sentence(kind_, path_, reason_, existing_, port_, seconds_)) {}

ConfigError ConfigError::malformedJSON(std::string path, std::string reason) {
    return {Kind::malformedJSON, std::move(path), std::move(reason), {}, 0, 0};
}

ConfigError ConfigError::rootIsNotAnObject(std::string path) {
    return {Kind::rootIsNotAnObject, std::move(path), {}, {}, 0, 0};
}

ConfigError ConfigError::envIsNotAnObject(std::string path) {
    return {Kind::envIsNotAnObject, std::move(path), {}, {}, 0, 0};
}

ConfigError ConfigError::baseURLIsNotAString(std::string path) {
    return {Kind::baseURLIsNotAString, std::move(path), {}, {}, 0, 0};
}

ConfigError ConfigError::conflictingBaseURL(std::string path, std::string existing) {
    return {Kind::conflictingBaseURL, std::move(path), {}, std::move(existing), 0, 0};
}

ConfigError ConfigError::verificationFailed(std::string path, std::string reason) {
    return {Kind::verificationFailed, std::move(path), std::move(reason), {}, 0, 0};
}

ConfigError ConfigError::backupMissing(std::string path) {
    return {Kind::backupMissing, std::move(path), {}, {}, 0, 0};
}

ConfigError ConfigError::proxyUnreachable(std::uint16_t port, int seconds) {
    return {Kind::proxyUnreachable, {}, {}, {}, port, seconds};
}

ConfigError ConfigError::io(std::string path, std::string reason) {
    return {Kind::io, std::move(path), std::move(reason), {}, 0, 0};
}

bool ConfigError::operator==(const ConfigError& other) const {
    return kind_ == other.kind_ && path_ == other.path_ && reason_ == other.reason_ &&
           existing_ == other.existing_ && port_ == other.port_ && seconds_ == other.seconds_;
}

} // namespace meterly::config
