#include "support/PrivateSessionBus.hpp"

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace meterly::testing {

PrivateSessionBus::PrivateSessionBus() {
    std::ifstream system("/usr/share/dbus-1/session.conf");
    if (!system) {
        throw std::runtime_error("no /usr/share/dbus-1/session.conf (package dbus)");
    }
    std::stringstream text;
    text << system.rdbuf();
    std::string config = text.str();
    // No service folders, so nothing starts on demand; the socket in the test's own folder.
    for (const std::string element :
         {"<standard_session_servicedirs />", "<standard_session_servicedirs/>"}) {
        if (const auto at = config.find(element); at != std::string::npos) {
            config.erase(at, element.size());
        }
    }
    const auto listen = config.find("<listen>");
    const auto listenEnd = config.find("</listen>", listen);
    if (listen == std::string::npos || listenEnd == std::string::npos) {
        throw std::runtime_error("the session bus configuration has no <listen> element");
    }
    config.replace(listen, listenEnd - listen, "<listen>unix:dir=" + folder_.path().string());
    const auto file = folder_.write("session.conf", config);

    daemon_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/dbus-daemon", "--config-file=" + file.string(),
                                 "--nofork", "--nopidfile", "--print-address=2"},
        std::vector<std::string>{"PATH=/usr/bin:/bin"});
    while (auto line = daemon_->readErrorLine(std::chrono::seconds(20))) {
        if (line->starts_with("unix:")) {
            address_ = line->substr(0, line->find_last_not_of("\r\n") + 1);
            return;
        }
    }
    throw std::runtime_error("dbus-daemon did not print its address");
}

PrivateSessionBus::~PrivateSessionBus() {
    daemon_->kill(SIGTERM);
    daemon_->wait();
}

} // namespace meterly::testing
