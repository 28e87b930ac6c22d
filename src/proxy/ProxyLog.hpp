#pragma once

#include "proxy/ProxyError.hpp"
#include "proxy/Syslog.hpp"
#include "proxy/SystemLog.hpp"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

namespace meterly::proxy {

// One line of the proxy's log. Its description is the line, exactly.
class ProxyLogEvent {
public:
    enum class Kind : std::uint8_t {
        listenerStarted,
        listenerFailed,
        upstreamFailed,
        responseObserved,
        clientError,
        listenerStopped,
        clientAccepted,
        clientFinished,
        healthCheckServed,
        upstreamConnected,
        snapshotPublished,
        clientRejectedAtCapacity,
    };

    static ProxyLogEvent listenerStarted(std::uint16_t port);
    static ProxyLogEvent listenerFailed(ProxyFailure failure);
    static ProxyLogEvent upstreamFailed(ProxyFailure failure);
    static ProxyLogEvent responseObserved(int status);
    static ProxyLogEvent clientError(ProxyFailure failure);
    static ProxyLogEvent listenerStopped() { return ProxyLogEvent(Kind::listenerStopped); }
    static ProxyLogEvent clientAccepted() { return ProxyLogEvent(Kind::clientAccepted); }
    static ProxyLogEvent clientFinished() { return ProxyLogEvent(Kind::clientFinished); }
    static ProxyLogEvent healthCheckServed() { return ProxyLogEvent(Kind::healthCheckServed); }
    static ProxyLogEvent upstreamConnected() { return ProxyLogEvent(Kind::upstreamConnected); }
    static ProxyLogEvent snapshotPublished() { return ProxyLogEvent(Kind::snapshotPublished); }
    static ProxyLogEvent clientRejectedAtCapacity() {
        return ProxyLogEvent(Kind::clientRejectedAtCapacity);
    }

    Kind kind() const { return kind_; }
    std::string description() const;
    // The same text appended to `out`.
    void appendDescription(std::string& out) const;

    friend bool operator==(const ProxyLogEvent&, const ProxyLogEvent&) = default;

private:
    explicit ProxyLogEvent(Kind kind) : kind_(kind) {}

    Kind kind_;
    // The payload of the cases that carry one; zero and `other` elsewhere.
    std::int64_t number_ = 0;
    ProxyFailure failure_ = ProxyFailure::other;
};

std::ostream& operator<<(std::ostream& out, const ProxyLogEvent& event);

// The process-wide log of the proxy. Every part of the proxy logs only through emit().
class ProxyLog {
public:
    using Sink = std::function<void(const ProxyLogEvent&)>;

    // Hands the event to the sink if one is installed, else writes its line to the system log.
    // Callable from any thread; never fails.
    static void emit(const ProxyLogEvent& event);

    // Puts `sink` in place of the current one; an empty function removes it.
    static void setSink(Sink sink);

    // Replaces the system log (tests capture lines this way); returns the previous one. A null
    // pointer restores syslog.
    static std::shared_ptr<SystemLog> setSystemLog(std::shared_ptr<SystemLog> log);

    ProxyLog() = delete;
};

} // namespace meterly::proxy
