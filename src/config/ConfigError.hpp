#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace meterly::config {

// The one error of the settings-file edits and of the installer's health gate. Each kind
// carries the facts its sentence needs; what() gives that sentence.
class ConfigError : public std::exception {
public:
    enum class Kind {
        malformedJSON,
        rootIsNotAnObject,
        envIsNotAnObject,
        baseURLIsNotAString,
        conflictingBaseURL,
        verificationFailed,
        backupMissing,
        proxyUnreachable,
        io,
    };

    static ConfigError malformedJSON(std::string path, std::string reason);
    static ConfigError rootIsNotAnObject(std::string path);
    static ConfigError envIsNotAnObject(std::string path);
    static ConfigError baseURLIsNotAString(std::string path);
    static ConfigError conflictingBaseURL(std::string path, std::string existing);
    static ConfigError verificationFailed(std::string path, std::string reason);
    static ConfigError backupMissing(std::string path);
    static ConfigError proxyUnreachable(std::uint16_t port, int seconds);
    static ConfigError io(std::string path, std::string reason);

    Kind kind() const { return kind_; }
    // The file the error is about (empty for proxyUnreachable).
    const std::string& path() const { return path_; }
    // The reason of malformedJSON, verificationFailed and io.
    const std::string& reason() const { return reason_; }
    // The base URL found, for conflictingBaseURL.
    const std::string& existing() const { return existing_; }
    std::uint16_t port() const { return port_; }
    int seconds() const { return seconds_; }

    // The sentence shown to the user.
    const char* what() const noexcept override { return description_.c_str(); }

    bool operator==(const ConfigError& other) const;

private:
    ConfigError(Kind kind, std::string path, std::string reason, std::string existing,
                std::uint16_t port, int seconds);

    Kind kind_;
    std::string path_;
    std::string reason_;
    std::string existing_;
    std::uint16_t port_ = 0;
    int seconds_ = 0;
    std::string description_;
};

} // namespace meterly::config
