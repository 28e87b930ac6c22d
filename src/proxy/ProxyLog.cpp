#include "proxy/ProxyLog.hpp"

#include <mutex>
#include <ostream>
#include <utility>

namespace meterly::proxy {

ProxyLogEvent ProxyLogEvent::listenerStarted(std::uint16_t port) {
    ProxyLogEvent event(Kind::listenerStarted);
    event.number_ = port;
    return event;
}

ProxyLogEvent ProxyLogEvent::listenerFailed(ProxyFailure failure) {
    ProxyLogEvent event(Kind::listenerFailed);
    event.failure_ = failure;
    return event;
}

ProxyLogEvent ProxyLogEvent::upstreamFailed(ProxyFailure failure) {
    ProxyLogEvent event(Kind::upstreamFailed);
    event.failure_ = failure;
    return event;
}

ProxyLogEvent ProxyLogEvent::responseObserved(int status) {
    ProxyLogEvent event(Kind::responseObserved);
    event.number_ = status;
    return event;
}

ProxyLogEvent ProxyLogEvent::clientError(ProxyFailure failure) {
    ProxyLogEvent event(Kind::clientError);
    event.failure_ = failure;
    return event;
}

std::string ProxyLogEvent::description() const {
    switch (kind_) {
    case Kind::listenerStarted:
        return "listening on 127.0.0.1:" + std::to_string(number_);
    case Kind::listenerFailed:
        return "listener failed: " + std::string(failure_.explanation());
    case Kind::upstreamFailed:
        return "upstream failed: " + std::string(failure_.explanation());
    case Kind::responseObserved:
        return "response status " + std::to_string(number_);
    case Kind::clientError:
        return "client error: " + std::string(failure_.explanation());
    case Kind::listenerStopped:
        return "listener stopped";
    case Kind::clientAccepted:
        return "client connected";
    case Kind::clientFinished:
        return "client disconnected";
    case Kind::healthCheckServed:
        return "served health check";
    case Kind::upstreamConnected:
        return "upstream connected";
    case Kind::snapshotPublished:
        return "published usage snapshot";
    case Kind::clientRejectedAtCapacity:
        return "client rejected: connection cap reached";
    }
    return {};
}

std::ostream& operator<<(std::ostream& out, const ProxyLogEvent& event) {
    return out << event.description();
}

namespace {

struct Storage {
    std::mutex lock;
    ProxyLog::Sink sink;
    std::shared_ptr<SystemLog> systemLog = std::make_shared<Syslog>();
};

Storage& storage() {
    static Storage instance;
    return instance;
}

} // namespace

void ProxyLog::emit(const ProxyLogEvent& event) {
    auto& shared = storage();
    Sink sink;
    std::shared_ptr<SystemLog> systemLog;
    {
        std::lock_guard guard(shared.lock);
        sink = shared.sink;
        systemLog = shared.systemLog;
    }
    if (sink) {
        sink(event);
        return;
    }
    systemLog->write(event.description());
}

void ProxyLog::setSink(Sink sink) {
    auto& shared = storage();
    {
        std::lock_guard guard(shared.lock);
        std::swap(shared.sink, sink);
    }
    // The replaced sink is released here, outside the lock.
}

std::shared_ptr<SystemLog> ProxyLog::setSystemLog(std::shared_ptr<SystemLog> log) {
    if (!log) {
        log = std::make_shared<Syslog>();
    }
    auto& shared = storage();
    std::lock_guard guard(shared.lock);
    std::swap(shared.systemLog, log);
    return log;
}

} // namespace meterly::proxy
