#include "proxy/Syslog.hpp"

#include "support/TempDir.hpp"

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace meterly::proxy {
namespace {

using meterly::testing::TempDir;

// A log socket of our own: a datagram socket bound in a temporary folder.
class LogSocket {
public:
    explicit LogSocket(const std::string& path)
        : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~LogSocket() { ::close(fd_); }
    LogSocket(const LogSocket&) = delete;
    LogSocket& operator=(const LogSocket&) = delete;

    bool bound() const { return bound_; }
    // The datagrams received so far, one per line.
    std::vector<std::string> datagrams() const {
        std::vector<std::string> received;
        char buffer[4096];
        while (true) {
            const auto count = ::recv(fd_, buffer, sizeof buffer, 0);
            if (count < 0) {
                return received;
            }
            received.emplace_back(buffer, static_cast<std::size_t>(count));
        }
    }

private:
    int fd_;
    bool bound_ = false;
};

const std::string tag = "com.meterly.proxy[" + std::to_string(::getpid()) + "]: ";

TEST(SyslogTest, EachLineIsOneDatagramInTheSystemLogFormat) {
    TempDir folder;
    LogSocket socket((folder.path() / "log").string());
    ASSERT_TRUE(socket.bound());
    {
        Syslog log((folder.path() / "log").string());
        log.write("response status 200");
        log.write("published usage snapshot");
    } // Queued lines are delivered before the log goes.

    const auto datagrams = socket.datagrams();
    ASSERT_EQ(datagrams.size(), 2U);
    const std::string lines[] = {"response status 200", "published usage snapshot"};
    for (std::size_t i = 0; i < 2; ++i) {
        // "<14>" (user, informational), "Mmm dd hh:mm:ss", a space, the ident with the process id.
        EXPECT_EQ(datagrams[i].substr(0, 4), "<14>") << datagrams[i];
        ASSERT_GT(datagrams[i].size(), 20U);
        EXPECT_EQ(datagrams[i].substr(20), tag + lines[i]) << datagrams[i];
        const std::string separators{datagrams[i][7], datagrams[i][10], datagrams[i][13],
                                     datagrams[i][16], datagrams[i][19]};
        EXPECT_EQ(separators, "  :: ") << datagrams[i];
    }
}

TEST(SyslogTest, LinesWrittenWhileTheLogIsMissingAreReportedWhenItComes) {
    TempDir folder;
    const std::string path = (folder.path() / "log").string();
    Syslog log(path, std::chrono::milliseconds(0));
    log.write("client connected");
    log.write("client disconnected");
    log.flush();

    LogSocket socket(path);
    ASSERT_TRUE(socket.bound());
    log.write("listener stopped");
    log.flush();
    const auto datagrams = socket.datagrams();
    ASSERT_EQ(datagrams.size(), 2U);
    EXPECT_TRUE(datagrams[0].ends_with(tag + "2 log lines lost: the system log did not take them"))
        << datagrams[0];
    EXPECT_TRUE(datagrams[1].ends_with(tag + "listener stopped")) << datagrams[1];
}

} // namespace
} // namespace meterly::proxy
