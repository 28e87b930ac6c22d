#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace meterly::testing {

// A plain HTTP/1.1 listener on 127.0.0.1 that answers every request with one fixed status and no
// body, on a thread of its own, until it is destroyed. It stands in for a running proxy.
class HttpResponder {
public:
    // Listens on `port`, or on a free port the system picks when it is 0.
    explicit HttpResponder(int status = 200, std::uint16_t port = 0);
    ~HttpResponder();
    HttpResponder(const HttpResponder&) = delete;
    HttpResponder& operator=(const HttpResponder&) = delete;

    std::uint16_t port() const { return port_; }

    // The request lines received so far ("HEAD /api/hello HTTP/1.1").
    std::vector<std::string> requestLines() const;

private:
    void serve();
    void answer(int client);

    int status_;
    int listener_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> requestLines_;
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
