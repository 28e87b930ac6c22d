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
    std::string text;
    appendDescription(text);
    return text;
}

void ProxyLogEvent::appendDescription(std::string& out) const {
    switch (kind_) {
    case Kind::listenerStarted:
        out += "listening on 127.0.0.1:";
        out += std::to_string(number_);
        return;
    case Kind::listenerFailed:
        out += "listener failed: ";
        out += failure_.explanation();
        return;
    case Kind::upstreamFailed:
        out += "upstream failed: ";
        out += failure_.explanation();
        return;
    case Kind::responseObserved:
        out += "response status ";
        out += std::to_string(number_);
        return;
    case Kind::clientError:
        out += "client error: ";
        out += failure_.explanation();
        return;
    case Kind::listenerStopped:
        out += "listener stopped";
        return;
    case Kind::clientAccepted:
        out += "client connected";
        return;
    case Kind::clientFinished:
        out += "client disconnected";
        return;
    case Kind::healthCheckServed:
        out += "served health check";
        return;
    case Kind::upstreamConnected:
        out += "upstream connected";
        return;
    case Kind::snapshotPublished:
        out += "published usage snapshot";
        return;
    case Kind::clientRejectedAtCapacity:
        out += "client rejected: connection cap reached";
        return;
    }
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
    // Each thread composes its lines in one buffer that it keeps, so that a line costs no
    // allocation of its own here.
    thread_local std::string line;
    line.clear();
    event.appendDescription(line);
    systemLog->write(line);
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
