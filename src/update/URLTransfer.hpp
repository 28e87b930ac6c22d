#pragma once

#include "core/Environment.hpp"
#include "core/Time.hpp"
#include "update/TransferCancellation.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace meterly::update {

// A transfer that did not complete: the connection failed, stalled, was redirected somewhere other
// than http or https, brought more bytes than allowed, or was cancelled. The text says which.
class TransferError : public std::runtime_error {
public:
    enum class Kind { transport, tooLarge, cancelled };

    TransferError(Kind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}

    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// One blocking HTTP GET through libcurl: http and https only (redirects included, up to 10),
// proxies from the environment except for loopback hosts, and an idle time-out rather than a
// total one, so that a slow but flowing transfer goes on while a stalled one ends. A cancellation
// ends it within moments from any thread, whatever the server does meanwhile.
class URLTransfer {
public:
    struct Options {
        // How long the connection may make no progress (connecting included).
        core::Seconds idleTimeout = 60;
        // The largest body accepted; a larger one ends the transfer with Kind::tooLarge.
        std::uint64_t maxBytes = 0;
        // A file of trusted certificates in place of the system's (SSL_CERT_FILE).
        std::optional<std::string> certificateFile;
    };

    // Receives the body in pieces; throwing ends the transfer and the exception passes out.
    using Sink = std::function<void(const char* data, std::size_t size)>;
    // Bytes received so far and the expected total (0 when the server gives none).
    using Progress = std::function<void(std::uint64_t received, std::uint64_t expected)>;

    static constexpr const char* cancelledMessage = "The transfer was cancelled.";

    // Returns the final response's status once its whole body has reached `sink`. `cancellation`
    // (which outlives the call), once cancelled, ends the transfer with Kind::cancelled.
    static long get(const std::string& url, const Options& options, const Sink& sink,
                    const Progress& progress = {}, TransferCancellation* cancellation = nullptr);

    // The options the app uses: the idle time-out and cap given, SSL_CERT_FILE from `environment`.
    static Options options(core::Seconds idleTimeout, std::uint64_t maxBytes,
                           const core::EnvironmentLookup& environment);
};

} // namespace meterly::update
