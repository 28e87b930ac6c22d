// The tray hosts followed by their own announcements: a StatusNotifierItem watcher's name on a
// private session bus, and the XEmbed tray selection on an X server of the test's own.
#include "ui/tray/TrayHostWatch.hpp"

#include "support/PrivateSessionBus.hpp"
#include "support/VirtualDesktop.hpp"
#include "ui/tray/XTraySelectionWatch.hpp"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <vector>
#include <xcb/xcb.h>

namespace meterly::ui {
namespace {

using testing::PrivateSessionBus;
using testing::VirtualDesktop;

// Connections of the test's own to the private bus, by name; all closed at the end.
class TrayHostWatchTest : public ::testing::Test {
protected:
    ~TrayHostWatchTest() override {
        for (const auto& name : opened_) {
            QDBusConnection::disconnectFromBus(name);
        }
    }

    QDBusConnection connection(const QString& name) {
        opened_.push_back(name);
        return QDBusConnection::connectToBus(QString::fromStdString(bus_.address()), name);
    }

    // Records what the watch reports.
    void follow(TrayHostWatch& watch) {
        watch.onChanged = [this, &watch](bool newHost) {
            reports_.push_back({watch.available().value_or(false), newHost});
        };
    }

    struct Report {
        bool available;
        bool newHost;
        bool operator==(const Report&) const = default;
    };

    PrivateSessionBus bus_;
    std::vector<QString> opened_;
    std::vector<Report> reports_;
};

TEST_F(TrayHostWatchTest, FollowsTheStatusNotifierWatcherAsItComesAndGoes) {
    const QString watcher = QString::fromUtf8(TrayHostWatch::watcherName);
    TrayHostWatch watch(connection("app"), std::nullopt);
    follow(watch);
    EXPECT_FALSE(watch.available().has_value()) << "the first answer never comes inside the call";
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.available().has_value(); }, 10'000));
    EXPECT_EQ(watch.available(), false);

    // A panel starts: its watcher takes the name.
    std::optional<QDBusConnection> panel = connection("panel");
    ASSERT_TRUE(panel->registerService(watcher));
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.available() == true; }, 10'000));
    // The panel quits, then starts again (a new connection takes the name).
    panel.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.available() == false; }, 10'000));
    auto again = connection("panel-again");
    ASSERT_TRUE(again.registerService(watcher));
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.available() == true; }, 10'000));
    EXPECT_EQ(reports_,
              (std::vector<Report>{{false, false}, {true, true}, {false, false}, {true, true}}));
}

TEST_F(TrayHostWatchTest, AWatcherAlreadyThereIsFoundByOneQuestionOnTheAppsOwnConnection) {
    auto panel = connection("panel");
    ASSERT_TRUE(panel.registerService(QString::fromUtf8(TrayHostWatch::watcherName)));
    // Every connection that opens gets a new unique name: count them from a probe's view.
    auto probe = connection("probe");
    const auto connectionsOpened = [&] {
        auto names = probe.interface()->registeredServiceNames().value();
        return std::count_if(names.begin(), names.end(),
                             [](const QString& name) { return name.startsWith(':'); });
    };
    auto app = connection("app");
    const auto before = connectionsOpened();
    TrayHostWatch watch(app, std::nullopt);
    follow(watch);
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.available().has_value(); }, 10'000));
    EXPECT_EQ(watch.available(), true);
    EXPECT_TRUE(watch.statusNotifierWatcher());
    EXPECT_EQ(reports_, (std::vector<Report>{{true, false}}));
    EXPECT_EQ(connectionsOpened(), before);
}

TEST_F(TrayHostWatchTest, WithoutABusOrADisplayThereIsNoTrayAtOnce) {
    TrayHostWatch watch(QDBusConnection(QStringLiteral("none")), std::nullopt);
    EXPECT_EQ(watch.available(), false);
}

// A window of a client of its own that takes or gives up the tray selection of screen 0.
class XTrayOwner {
public:
    explicit XTrayOwner(const std::string& display)
        : connection_(xcb_connect(display.c_str(), nullptr)) {}
    ~XTrayOwner() { xcb_disconnect(connection_); }

    void take() {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(connection_, window_, atom(), XCB_CURRENT_TIME);
        xcb_flush(connection_);
    }
    // The tray host's window goes away (the host quits or crashes).
    void destroy() {
        xcb_destroy_window(connection_, window_);
        xcb_flush(connection_);
    }

private:
    xcb_atom_t atom() {
        const char name[] = "_NET_SYSTEM_TRAY_S0";
        auto* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, sizeof name - 1, name), nullptr);
        const xcb_atom_t found = reply != nullptr ? reply->atom : XCB_NONE;
        std::free(reply);
        return found;
    }

    xcb_connection_t* connection_;
    xcb_window_t window_ = XCB_NONE;
};

TEST_F(TrayHostWatchTest, FollowsTheXTraySelectionAsHostsComeAndGo) {
    if (!VirtualDesktop::available(VirtualDesktop::Tray::none)) {
        GTEST_SKIP() << "Xvfb or dbus-daemon missing";
    }
    VirtualDesktop desktop(VirtualDesktop::Options{.tray = VirtualDesktop::Tray::none});
    TrayHostWatch watch(QDBusConnection(QStringLiteral("none")), desktop.display());
    follow(watch);
    EXPECT_EQ(watch.available(), false);

    XTrayOwner first(desktop.display());
    first.take();
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.available() == true; }, 10'000));
    EXPECT_TRUE(watch.xembedTray());
    first.destroy();
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.available() == false; }, 10'000));
    // A tray that starts again, and one that takes the selection from it.
    XTrayOwner second(desktop.display());
    second.take();
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.available() == true; }, 10'000));
    XTrayOwner third(desktop.display());
    third.take();
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports_.size() == 4; }, 10'000));
    EXPECT_EQ(reports_,
              (std::vector<Report>{{true, true}, {false, false}, {true, true}, {true, true}}));
}

} // namespace
} // namespace meterly::ui
