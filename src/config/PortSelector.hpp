#pragma once

#include "core/Environment.hpp"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::config {

// No port of a scan could be bound on 127.0.0.1.
class PortError : public std::exception {
public:
    static PortError noFreePort(std::uint16_t from, int attempts) { return {from, attempts}; }

    std::uint16_t from() const { return from_; }
    int attempts() const { return attempts_; }

    // "No free TCP port on 127.0.0.1 in <attempts> ports from <from>."
    const char* what() const noexcept override { return text_.c_str(); }

    bool operator==(const PortError& other) const {
        return from_ == other.from_ && attempts_ == other.attempts_;
    }

private:
    PortError(std::uint16_t from, int attempts);

    std::uint16_t from_;
    int attempts_;
    std::string text_;
};

// The proxy's loopback port: the installation's default, whether a port is free, the scan for a
// free one, and the conversion between a port and the base URL in Claude Code's settings.
class PortSelector {
public:
    PortSelector() = delete;

    // The installation's default port, which is also where its scan starts: 8787, or 8900 when
    // METERLY_INSTALL selects the development installation. Read afresh on every call.
    static std::uint16_t defaultPort();
    static std::uint16_t defaultPort(const core::EnvironmentLookup& environment);

    // How many ports the installer's scan tries.
    static constexpr int defaultScanLimit = 100;

    // Whether a socket can bind and listen on 127.0.0.1 at `port` right now. Port 0 never is.
    // Another process may take the port straight after.
    static bool isPortAvailable(std::uint16_t port);

    // The first free port of `start`, `start` + 1, ... trying at most `limit` ports and never
    // going past 65535; port 0 is skipped. Throws PortError naming `start` and `limit`.
    static std::uint16_t findAvailablePort(std::uint16_t start, int limit);

    // "http://127.0.0.1:<port>", without a trailing slash.
    static std::string baseURL(std::uint16_t port);

    // The explicit port of a URL, when it parses and the port lies in 1...65535. The host is not
    // looked at.
    static std::optional<std::uint16_t> port(std::string_view baseURL);
};

} // namespace meterly::config
