#include "ui/platform/DBusNotificationCentre.hpp"

#include "state/NotificationDelivery.hpp"
#include "state/NotifySendFallback.hpp"
#include "support/FakeNotificationServer.hpp"
#include "support/FakeNotifications.hpp"
#include "support/FakeNotifySend.hpp"
#include "support/PrivateSessionBus.hpp"
#include "ui/platform/QtMainExecutor.hpp"

#include <QDBusConnection>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace meterly::ui {
namespace {

using namespace std::chrono_literals;
using testing::FakeNotificationServer;
using testing::PrivateSessionBus;

// A connection of the test's own to the private bus, closed at the end.
class BusConnection {
public:
    explicit BusConnection(const std::string& address)
        : name_(QStringLiteral("meterly-test-%1").arg(next_++)),
          connection_(QDBusConnection::connectToBus(QString::fromStdString(address), name_)) {}
    ~BusConnection() { QDBusConnection::disconnectFromBus(name_); }
    const QDBusConnection& get() const { return connection_; }

private:
    static inline int next_ = 0;
    QString name_;
    QDBusConnection connection_;
};

// Asks for authorisation and spins the event loop until the answer comes.
std::optional<bool> authorize(DBusNotificationCentre& centre) {
    std::optional<bool> answer;
    centre.requestAuthorization([&](bool authorized) { answer = authorized; });
    EXPECT_FALSE(answer.has_value()) << "the answer never comes inside the call";
    EXPECT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 10'000));
    return answer;
}

TEST(DBusNotificationCentreTest, AServerThatAnswersAuthorisesAndReceivesNotifyAsMeterly) {
    PrivateSessionBus bus;
    FakeNotificationServer server(bus.address());
    BusConnection connection(bus.address());
    DBusNotificationCentre centre(connection.get());

    EXPECT_EQ(authorize(centre), true);
    centre.show("meterly.threshold.remaining25.1767225600", "25% limit remaining",
                "Limit running low \"quoted\" <b>");
    ASSERT_TRUE(server.waitForNotifications(1, 10s));
    const auto received = server.notifications().front();
    EXPECT_EQ(received.appName, "Meterly");
    EXPECT_EQ(received.replacesID, 0u);
    EXPECT_EQ(received.appIcon, "");
    EXPECT_EQ(received.summary, "25% limit remaining");
    EXPECT_EQ(received.body, "Limit running low \"quoted\" <b>");
    EXPECT_TRUE(received.actions.empty());
    // The desktop's sound for a new message, where the server plays sounds.
    EXPECT_EQ(received.hints,
              (std::map<std::string, std::string>{{"sound-name", "message-new-instant"}}));
    EXPECT_EQ(received.expireTimeout, -1);
}

TEST(DBusNotificationCentreTest, NoServerASilentOneOrNoBusMeanNotAuthorised) {
    PrivateSessionBus bus;
    {
        BusConnection connection(bus.address());
        DBusNotificationCentre centre(connection.get());
        EXPECT_EQ(authorize(centre), false) << "nothing owns the name, and nothing is started";
    }
    {
        FakeNotificationServer silent(bus.address(), /*answersServerInformation=*/false);
        BusConnection connection(bus.address());
        DBusNotificationCentre centre(connection.get(), 300ms);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(authorize(centre), false);
        EXPECT_GE(std::chrono::steady_clock::now() - started, 250ms) << "waited for the time-out";
    }
    {
        BusConnection connection("unix:path=/nonexistent/meterly-bus");
        ASSERT_FALSE(connection.get().isConnected());
        DBusNotificationCentre centre(connection.get());
        EXPECT_EQ(authorize(centre), false);
    }
}

// The whole road on the desktop: the delivery decides for the server, keeps a notification for
// later on the Qt executor and hands it to the server when due.
TEST(DBusNotificationCentreTest, AScheduledNotificationReachesTheServerWhenDue) {
    PrivateSessionBus bus;
    FakeNotificationServer server(bus.address());
    BusConnection connection(bus.address());
    DBusNotificationCentre centre(connection.get());
    QtMainExecutor main;
    testing::FakeNotificationFallback fallback;
    state::NotificationDelivery delivery(main, centre, fallback);

    bool primed = false;
    delivery.prime([&] { primed = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return primed; }, 10'000));
    ASSERT_TRUE(delivery.canSchedule());

    delivery.schedule("meterly.reset.fiveHour.1", "5-hour limit reset", "Happy building",
                      main.now() + 0.3);
    QTest::qWait(100);
    EXPECT_TRUE(server.notifications().empty()) << "not before it is due";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.notifications().empty(); }, 10'000));
    EXPECT_EQ(server.notifications().front().summary, "5-hour limit reset");
    EXPECT_TRUE(fallback.shown.empty());
}

// With no server on the bus, the delivery settles on notify-send, which gets the product name as
// its title line and the alert below it, and is reaped.
TEST(DBusNotificationCentreTest, WithoutAServerNotificationsGoThroughNotifySend) {
    PrivateSessionBus bus;
    BusConnection connection(bus.address());
    DBusNotificationCentre centre(connection.get());
    QtMainExecutor main;
    testing::FakeNotifySend notifySend;
    state::NotifySendFallback fallback(
        [bin = notifySend.binFolder().string()](std::string_view name) {
            return name == "PATH" ? std::optional<std::string>(bin) : std::nullopt;
        });
    state::NotificationDelivery delivery(main, centre, fallback);

    bool primed = false;
    delivery.prime([&] { primed = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return primed; }, 10'000));
    EXPECT_EQ(delivery.usesSystemCentre(), false);

    delivery.schedule("meterly.reset.fiveHour.1", "5-hour limit reset", "Happy building",
                      main.now());
    delivery.deliverNow("meterly.threshold.remaining10.1", "10% limit remaining", "Almost out");
    ASSERT_TRUE(fallback.waitUntilIdle(10s));
    const auto runs = notifySend.runs();
    ASSERT_EQ(runs.size(), 1u) << "nothing kept for later without the server";
    EXPECT_EQ(runs[0].arguments,
              state::NotifySendFallback::arguments("10% limit remaining", "Almost out"));
    EXPECT_TRUE(testing::processGone(runs[0].pid));
}

} // namespace
} // namespace meterly::ui
