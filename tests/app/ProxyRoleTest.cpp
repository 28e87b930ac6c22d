#include "app/ProxyRole.hpp"

#include "config/ProcessRunner.hpp"
#include "config/SystemdUserBackend.hpp"
#include "support/FakeExecutable.hpp"
#include "support/TempDir.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace meterly::app {
namespace {

std::uint16_t freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool accepts(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

core::EnvironmentLookup noVariables() {
    return [](std::string_view) -> std::optional<std::string> { return std::nullopt; };
}

TEST(ProxyRoleTest, ConfigurationHoldsTheSystemsValues) {
    auto configuration = ProxyRole::configuration(8787);
    EXPECT_EQ(configuration.port, 8787);
    EXPECT_EQ(configuration.upstreamHost, "api.anthropic.com");
    EXPECT_EQ(configuration.upstreamPort, 443);
    EXPECT_EQ(configuration.upstreamTimeout, std::chrono::seconds(660));
    EXPECT_EQ(configuration.clientHeadCompletionTimeout, std::chrono::seconds(30));
    EXPECT_EQ(configuration.maximumHeadSize, 65536U);
    EXPECT_EQ(configuration.receiveChunkSize, 32768U);
    EXPECT_EQ(configuration.maximumConcurrentConnections, 128U);
    EXPECT_TRUE(configuration.upstreamUsesTLS);
}

// The executable is gone from the start: after three checks and the recheck the server stops,
// the settings lose the base URL that points at this port and the agent is taken down.
TEST(ProxyRoleTest, ADeletedExecutableStopsTheServerAndTearsTheInstallationDown) {
    testing::TempDir home;
    testing::TempDir tools;
    testing::FakeExecutable systemctl(tools.path(), "systemctl");
    const auto port = freePort();
    home.write(".claude/settings.json", "{\n  \"model\": \"opus\",\n  \"env\": "
                                        "{\"ANTHROPIC_BASE_URL\": \"http://127.0.0.1:" +
                                            std::to_string(port) + "\"}\n}\n");
    home.write(".config/systemd/user/com.meterly.proxy.service", "[Service]\n");

    std::vector<std::string> lines;
    std::vector<core::Seconds> sleeps;
    bool servingDuringWatch = false;
    ProxyRole::Context context{
        .arguments = {"meterly", "--proxy"},
        .environment = noVariables(),
        .homeDirectory = home.path(),
        .executablePath = (home.path() / "Gone/Meterly.app/Contents/MacOS/meterly").string(),
        .writeError = [&](std::string_view line) { lines.emplace_back(line); },
        .sleep =
            [&](core::Seconds seconds) {
                sleeps.push_back(seconds);
                servingDuringWatch = accepts(port);
            },
        .fileExists = config::SelfCheck::fileExistsOnDisk,
        .serviceBackend = std::make_shared<config::SystemdUserBackend>(
            std::make_shared<config::PosixProcessRunner>(), noVariables(),
            systemctl.path().string()),
    };

    EXPECT_EQ(ProxyRole::run(context), 0);

    EXPECT_EQ(lines, std::vector<std::string>{
                         "Meterly proxy listening on 127.0.0.1:" + std::to_string(port) + "\n"});
    EXPECT_EQ(sleeps, (std::vector<core::Seconds>{20, 20, 20, 2}));
    EXPECT_TRUE(servingDuringWatch);
    EXPECT_FALSE(accepts(port));
    auto settings = home.read(".claude/settings.json");
    EXPECT_EQ(settings.find("ANTHROPIC_BASE_URL"), std::string::npos) << settings;
    EXPECT_NE(settings.find("opus"), std::string::npos);
    EXPECT_FALSE(
        std::filesystem::exists(home.path() / ".config/systemd/user/com.meterly.proxy.service"));
    bool stopped = false;
    for (const auto& call : systemctl.calls()) {
        stopped = stopped || call.find("stop") != std::string::npos;
    }
    EXPECT_TRUE(stopped) << ::testing::PrintToString(systemctl.calls());
}

} // namespace
} // namespace meterly::app
