#include "support/HttpResponder.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace meterly::testing {

namespace {

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

} // namespace

HttpResponder::HttpResponder(int status, std::uint16_t port) : status_(status) {
    listener_ = boundSocket(port);
    if (listener_ < 0 || ::listen(listener_, 16) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    port_ = localPort(listener_);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
    thread_ = std::thread([this] { serve(); });
}

HttpResponder::~HttpResponder() {
    char byte = 0;
    (void)!::write(wakeWrite_, &byte, 1);
    thread_.join();
    ::close(listener_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

std::vector<std::string> HttpResponder::requestLines() const {
    std::lock_guard lock(mutex_);
    return requestLines_;
}

void HttpResponder::serve() {
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
            answer(client);
            ::close(client);
        }
    }
}

void HttpResponder::answer(int client) {
    std::string head;
    char buffer[1024];
    while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd fd{client, POLLIN, 0};
        if (::poll(&fd, 1, 5000) <= 0) {
            return;
        }
        ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n <= 0) {
            return;
        }
        head.append(buffer, static_cast<std::size_t>(n));
    }
    {
        std::lock_guard lock(mutex_);
        requestLines_.push_back(head.substr(0, head.find("\r\n")));
    }
    std::string response = "HTTP/1.1 " + std::to_string(status_) +
                           " Status\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    (void)!::write(client, response.data(), response.size());
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
