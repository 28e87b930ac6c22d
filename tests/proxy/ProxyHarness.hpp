#pragma once

#include "proxy/ProxyConfiguration.hpp"
#include "proxy/ProxyLog.hpp"
#include "proxy/ProxyServer.hpp"
#include "proxy/ProxyUsageSource.hpp"
#include "support/LocalTLSServer.hpp"
#include "support/ScopedEnvironment.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace meterly::proxy::testing {

using namespace meterly::testing;

// Collects the proxy's log lines for the life of the object.
class LogCapture {
public:
    LogCapture() {
        ProxyLog::setSink([this](const ProxyLogEvent& event) {
            {
                std::lock_guard guard(lock_);
                lines_.push_back(event.description());
            }
            changed_.notify_all();
        });
    }
    ~LogCapture() { ProxyLog::setSink({}); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard guard(lock_);
        return lines_;
    }
    std::size_t count(const std::string& line) const {
        std::lock_guard guard(lock_);
        return static_cast<std::size_t>(std::count(lines_.begin(), lines_.end(), line));
    }
    // Waits (at most 10 s, so that a broken case fails instead of hanging) until `line` has been
    // logged `times` times.
    bool waitFor(const std::string& line, std::size_t times = 1) const {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(10), [&] {
            return static_cast<std::size_t>(std::count(lines_.begin(), lines_.end(), line)) >=
                   times;
        });
    }

private:
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
};

// The proxy's configuration with the system's values, pointed at a local upstream.
inline ProxyConfiguration localConfiguration(std::uint16_t upstreamPort) {
    return ProxyConfiguration::withSystemLimits(0, "localhost", upstreamPort);
}

// A running proxy in front of a local TLS upstream whose responder the test sets.
class ProxyHarness {
public:
    using Responder = LocalTLSServer::Responder;

    explicit ProxyHarness(std::function<void(ProxyConfiguration&)> adjust = {},
                          std::vector<std::string> upstreamNames = {"DNS:localhost",
                                                                    "IP:127.0.0.1"})
        : upstream_([this](UpstreamConnection& connection,
                           const HTTPMessage& request) { respond(connection, request); },
                    std::move(upstreamNames)),
          trust_("SSL_CERT_FILE", upstream_.certificateFile().string()) {
        auto configuration = localConfiguration(upstream_.port());
        if (adjust) {
            adjust(configuration);
        }
        server_ = std::make_unique<ProxyServer>(configuration, usage_);
        port_ = server_->start();
    }

    void setResponder(Responder responder) {
        std::lock_guard guard(lock_);
        responder_ = std::move(responder);
    }

    std::uint16_t port() const { return port_; }
    LocalTLSServer& upstream() { return upstream_; }
    ProxyServer& server() { return *server_; }
    ProxyUsageSource& usage() { return *usage_; }
    std::shared_ptr<ProxyUsageSource> usagePointer() { return usage_; }
    LogCapture& log() { return log_; }

private:
    void respond(UpstreamConnection& connection, const HTTPMessage& request) {
        Responder responder;
        {
            std::lock_guard guard(lock_);
            responder = responder_;
        }
        if (responder) {
            responder(connection, request);
        } else {
            connection.write(cannedResponse(200, "OK", {}, "{}"));
        }
    }

    LogCapture log_;
    std::mutex lock_;
    Responder responder_;
    LocalTLSServer upstream_;
    ScopedEnvironment trust_;
    std::shared_ptr<ProxyUsageSource> usage_ = std::make_shared<ProxyUsageSource>();
    std::unique_ptr<ProxyServer> server_;
    std::uint16_t port_ = 0;
};

} // namespace meterly::proxy::testing
