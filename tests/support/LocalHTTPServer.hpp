#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace meterly::testing {

// A tiny HTTP server on 127.0.0.1 for tests: it reads one request head per connection, asks the
// responder for the raw reply bytes, writes them and closes the connection. A responder that
// returns nullopt leaves the connection open and silent until the server stops.
class LocalHTTPServer {
public:
    using Responder = std::function<std::optional<std::string>(const std::string& requestHead)>;

    // Listens on `port`, or on a free port the system picks when it is 0.
    explicit LocalHTTPServer(Responder responder, std::uint16_t port = 0);
    ~LocalHTTPServer();
    LocalHTTPServer(const LocalHTTPServer&) = delete;
    LocalHTTPServer& operator=(const LocalHTTPServer&) = delete;

    std::uint16_t port() const { return port_; }

    // Replaces the responder for the connections that follow.
    void setResponder(Responder responder);

    // Every request head received so far, in order.
    std::vector<std::string> requests() const;

    // Closes the listener and every held connection; later connections are refused.
    void stop();

    // A complete reply with the given status line, the body and a matching Content-Length.
    static std::string reply(const std::string& statusLine, const std::string& body,
                             const std::string& contentType = "application/json");

private:
    void run();

    int listener_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    Responder responder_;
    std::vector<std::string> requests_;
    std::atomic<bool> stopped_{false};
    std::thread thread_;
};

// A port on 127.0.0.1 held by a socket that is bound but does not listen: connections to it are
// refused, and no one else can take it until release().
class ReservedPort {
public:
    ReservedPort();
    ~ReservedPort();
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;

    std::uint16_t port() const { return port_; }
    void release();

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// Holds `port` on 127.0.0.1 with a listening socket; false when it could not (someone else has
// it, which leaves it taken all the same).
class PortHolder {
public:
    explicit PortHolder(std::uint16_t port);
    ~PortHolder();
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    bool holds() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace meterly::testing
