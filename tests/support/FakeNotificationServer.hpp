#pragma once

#include "support/ChildProcess.hpp"
#include "support/TempDir.hpp"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace meterly::testing {

// One Notify call as the server received it.
struct ReceivedNotification {
    std::string appName;
    std::uint32_t replacesID = 0;
    std::string appIcon;
    std::string summary;
    std::string body;
    std::vector<std::string> actions;
    // Each hint by name, its value as text.
    std::map<std::string, std::string> hints;
    std::int32_t expireTimeout = 0;
};

// An org.freedesktop.Notifications server of the test's own (python3-dbus) on the given bus,
// which records every Notify call. It owns the name before the constructor returns.
class FakeNotificationServer {
public:
    // With `answersServerInformation` false it never replies to GetServerInformation (a server
    // that hangs).
    explicit FakeNotificationServer(const std::string& busAddress,
                                    bool answersServerInformation = true);
    ~FakeNotificationServer();
    FakeNotificationServer(const FakeNotificationServer&) = delete;
    FakeNotificationServer& operator=(const FakeNotificationServer&) = delete;

    // The Notify calls so far, oldest first.
    std::vector<ReceivedNotification> notifications() const;

    // Waits (real time, at most `limit`) until at least `count` calls have arrived.
    bool waitForNotifications(std::size_t count, std::chrono::milliseconds limit) const;

private:
    TempDir folder_{"meterly-notifications"};
    std::unique_ptr<ChildProcess> server_;
};

} // namespace meterly::testing
