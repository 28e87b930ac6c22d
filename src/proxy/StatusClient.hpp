#pragma once

#include "core/CancellationToken.hpp"
#include "core/Time.hpp"
#include "core/UsageSnapshot.hpp"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace meterly::proxy {

// One reading of the proxy's status endpoint.
struct ProxyStatusReport {
    // Absent when the proxy has none or the document carries no capture time.
    std::optional<core::UsageSnapshot> snapshot;
    std::int64_t requestsSeen = 0;
    std::optional<core::Date> lastRequestAt;

    bool operator==(const ProxyStatusReport&) const = default;
};

// The endpoint answered, but not with status 200 and a status document.
class StatusClientError : public std::runtime_error {
public:
    enum class Kind { unexpectedResponse };

    explicit StatusClientError(Kind kind = Kind::unexpectedResponse)
        : std::runtime_error("unexpected response from the status endpoint"), kind_(kind) {}

    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// Reaching the endpoint failed: nobody listening, no progress in time, cancelled, a bad URL.
class StatusTransportError : public std::runtime_error {
public:
    enum class Kind { connectionFailed, timedOut, cancelled, other };

    StatusTransportError(Kind kind, int curlCode, const std::string& message)
        : std::runtime_error(message), kind_(kind), curlCode_(curlCode) {}

    Kind kind() const { return kind_; }
    // The libcurl result code behind the failure.
    int curlCode() const { return curlCode_; }

private:
    Kind kind_;
    int curlCode_;
};

// Reads the proxy's status endpoint over HTTP (libcurl, http and https only).
class StatusClient {
public:
    // A reading fails when it makes no progress for this long.
    static constexpr core::Seconds defaultTimeout = 3;
    // Larger bodies are refused as unexpected responses.
    static constexpr std::size_t maximumBodySize = 1024 * 1024;

    explicit StatusClient(std::uint16_t port, std::string host = "127.0.0.1",
                          core::Seconds timeout = defaultTimeout);

    std::uint16_t port() const { return port_; }
    const std::string& host() const { return host_; }
    core::Seconds timeout() const { return timeout_; }

    // "http://<host>:<port>/__meterly/status"; the host is inserted unchanged.
    std::string url() const;

    // One GET of the endpoint. Throws StatusClientError for a reply other than 200 with a
    // status document (or one too large), StatusTransportError when the endpoint cannot be read.
    // A cancelled token ends the reading within a few hundredths of a second.
    ProxyStatusReport fetch(const core::CancellationToken* cancellation = nullptr) const;

    // The report of a status document; nullopt when the body is not one.
    static std::optional<ProxyStatusReport> decode(std::string_view body);

    bool operator==(const StatusClient&) const = default;

private:
    std::uint16_t port_;
    std::string host_;
    core::Seconds timeout_;
};

} // namespace meterly::proxy
