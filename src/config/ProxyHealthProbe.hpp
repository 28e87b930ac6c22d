#pragma once

#include "core/Time.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace meterly::config {

// Asks a running proxy whether it answers its health check (HEAD "/api/hello" over plain HTTP),
// once or up to `attempts` times with a pause between tries. Every failure reads as false.
class ProxyHealthProbe {
public:
    // Pauses the calling thread; tests pass their own so that they never wait.
    using Sleeper = std::function<void(core::Seconds)>;

    static constexpr std::string_view healthCheckPath = "/api/hello";

    // `attempts` below 1 becomes 1. Without a sleeper the pauses run on the monotonic clock.
    ProxyHealthProbe(std::uint16_t port, std::string host, int attempts, core::Seconds interval,
                     Sleeper sleep = {});

    std::uint16_t port() const { return port_; }
    const std::string& host() const { return host_; }
    int attempts() const { return attempts_; }
    core::Seconds interval() const { return interval_; }

    // "http://<host>:<port>/api/hello".
    std::string url() const;

    // The seconds the tries and pauses are given in all: interval times attempts, rounded to the
    // nearest whole number (halves away from zero), at least 1. Request time-outs not counted.
    int budgetSeconds() const;

    // Up to `attempts` tries, each given 2 s, with a pause of `interval` after each failed one
    // but the last: true as soon as one answer has a status in 200...299.
    bool isHealthy() const;
    // The same; the name the installer's wait goes by.
    bool waitUntilHealthy() const { return isHealthy(); }

    // One try, whatever `attempts` says.
    bool answersOnce() const;

private:
    std::uint16_t port_;
    std::string host_;
    int attempts_;
    core::Seconds interval_;
    Sleeper sleep_;
};

} // namespace meterly::config
