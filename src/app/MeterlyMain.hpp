#pragma once

#include <span>
#include <string>

namespace meterly::app {

// The process entry: "--proxy" anywhere among the arguments runs the proxy role; anything else
// is the tray application.
class MeterlyMain {
public:
    MeterlyMain() = delete;

    // Returns the process's exit status.
    static int main(std::span<const std::string> arguments);

    static bool isProxyRole(std::span<const std::string> arguments);
};

} // namespace meterly::app
