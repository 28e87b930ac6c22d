#include "config/PortSelector.hpp"

#include "config/InstallEnvironment.hpp"
#include "config/URLComponents.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace meterly::config {

PortError::PortError(std::uint16_t from, int attempts)
    : from_(from), attempts_(attempts),
      text_("No free TCP port on 127.0.0.1 in " + std::to_string(attempts) + " ports from " +
            std::to_string(from) + ".") {}

std::uint16_t PortSelector::defaultPort() {
    return defaultPort(core::processEnvironment());
}

std::uint16_t PortSelector::defaultPort(const core::EnvironmentLookup& environment) {
    return InstallEnvironment::current(environment).scanFromPort;
}

bool PortSelector::isPortAvailable(std::uint16_t port) {
    if (port == 0) {
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool available = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                     ::listen(fd, 1) == 0;
    ::close(fd);
    return available;
}

std::uint16_t PortSelector::findAvailablePort(std::uint16_t start, int limit) {
    // Counted in a wider type so that a scan reaching 65535 ends instead of wrapping to 0.
    std::uint32_t port = start;
    for (int tried = 0; tried < limit && port <= 65535; ++port) {
        if (port == 0) {
            continue;
        }
        ++tried;
        if (isPortAvailable(static_cast<std::uint16_t>(port))) {
            return static_cast<std::uint16_t>(port);
        }
    }
    throw PortError::noFreePort(start, limit);
}

std::string PortSelector::baseURL(std::uint16_t port) {
    return "http://127.0.0.1:" + std::to_string(port);
}

std::optional<std::uint16_t> PortSelector::port(std::string_view baseURL) {
    auto components = URLComponents::parse(baseURL);
    if (!components || !components->port || *components->port < 1 || *components->port > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*components->port);
}

} // namespace meterly::config
