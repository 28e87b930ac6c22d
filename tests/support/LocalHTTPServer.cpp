#include "support/LocalHTTPServer.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace meterly::testing {

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int boundSocket(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    auto address = loopback(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::uint16_t localPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

void writeAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return; // the client went away
        }
        sent += static_cast<std::size_t>(n);
    }
}

} // namespace

LocalHTTPServer::LocalHTTPServer(Responder responder, std::uint16_t port)
    : responder_(std::move(responder)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        fail("socket");
    }
    auto address = loopback(port);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0) {
        fail("bind");
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        fail("pipe");
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    thread_ = std::thread([this] { run(); });
}

LocalHTTPServer::~LocalHTTPServer() {
    stop();
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void LocalHTTPServer::setResponder(Responder responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

std::vector<std::string> LocalHTTPServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void LocalHTTPServer::stop() {
    if (stopped_.exchange(true)) {
        return;
    }
    char byte = 0;
    (void)::write(wakeWrite_, &byte, 1);
    thread_.join();
    ::close(listener_);
}

std::string LocalHTTPServer::reply(const std::string& statusLine, const std::string& body,
                                   const std::string& contentType) {
    return statusLine + "\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

void LocalHTTPServer::run() {
    std::vector<int> held;
    while (true) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0) {
            break;
        }
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        // Read up to the end of the head, giving up when the stop signal comes first.
        std::string head;
        bool complete = false;
        while (!complete) {
            pollfd wait[2] = {{client, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
            if (::poll(wait, 2, -1) < 0 || wait[1].revents != 0) {
                break;
            }
            char buffer[4096];
            ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            head.append(buffer, static_cast<std::size_t>(n));
            complete = head.find("\r\n\r\n") != std::string::npos;
        }
        if (!complete) {
            ::close(client);
            continue;
        }
        Responder responder;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(head.substr(0, head.find("\r\n\r\n") + 4));
            responder = responder_;
        }
        auto answer = responder(head);
        if (!answer) {
            held.push_back(client);
            continue;
        }
        writeAll(client, *answer);
        ::shutdown(client, SHUT_WR);
        ::close(client);
    }
    for (int fd : held) {
        ::close(fd);
    }
}

ReservedPort::ReservedPort() {
    fd_ = boundSocket(0);
    if (fd_ < 0) {
        throw std::runtime_error("cannot reserve a port on 127.0.0.1");
    }
    port_ = localPort(fd_);
}

ReservedPort::~ReservedPort() {
    release();
}

void ReservedPort::release() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

PortHolder::PortHolder(std::uint16_t port) {
    fd_ = boundSocket(port);
    if (fd_ >= 0 && ::listen(fd_, 1) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

PortHolder::~PortHolder() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

} // namespace meterly::testing
