#pragma once

#include "support/ChildProcess.hpp"
#include "support/TempDir.hpp"

#include <memory>
#include <string>

namespace meterly::testing {

// A D-Bus session bus of the test's own: dbus-daemon with the system's session configuration
// minus the standard service folders (so nothing is started on demand), listening on a socket in
// a temporary folder. Stopped on destruction.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // The bus address, for DBUS_SESSION_BUS_ADDRESS or a direct connection.
    const std::string& address() const { return address_; }

private:
    TempDir folder_{"meterly-bus"};
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
};

} // namespace meterly::testing
