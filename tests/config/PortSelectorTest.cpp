#include "config/PortSelector.hpp"

#include "support/LocalHTTPServer.hpp"

#include <gtest/gtest.h>
#include <memory>

namespace meterly::config {
namespace {

using testing::PortHolder;
using testing::ReservedPort;

TEST(PortSelectorTest, PortZeroIsNeverAvailable) {
    EXPECT_FALSE(PortSelector::isPortAvailable(0));
}

TEST(PortSelectorTest, APortSomeoneListensOnIsTakenAndAFreedOneIsFree) {
    ReservedPort reserved;
    std::uint16_t port = reserved.port();
    EXPECT_FALSE(PortSelector::isPortAvailable(port)); // bound, even without listening
    reserved.release();
    EXPECT_TRUE(PortSelector::isPortAvailable(port));
    {
        PortHolder holder(port);
        ASSERT_TRUE(holder.holds());
        EXPECT_FALSE(PortSelector::isPortAvailable(port));
    }
    // The test's own socket never blocks the port afterwards.
    EXPECT_TRUE(PortSelector::isPortAvailable(port));
    EXPECT_TRUE(PortSelector::isPortAvailable(port));
}

TEST(PortSelectorTest, TheScanSkipsTakenPorts) {
    // Find two neighbouring ports this test can hold with a free one after them.
    for (std::uint16_t base = 20000; base < 30000; base += 37) {
        PortHolder first(base);
        PortHolder second(static_cast<std::uint16_t>(base + 1));
        if (!first.holds() || !second.holds() ||
            !PortSelector::isPortAvailable(static_cast<std::uint16_t>(base + 2))) {
            continue;
        }
        EXPECT_EQ(PortSelector::findAvailablePort(base, 100), base + 2);
        EXPECT_EQ(PortSelector::findAvailablePort(static_cast<std::uint16_t>(base + 2), 1),
                  base + 2);
        return;
    }
    FAIL() << "no three free neighbouring ports";
}

TEST(PortSelectorTest, TheScanStopsAtTheTopOfThePortRange) {
    // Every one of the six ports up to 65535 taken, by this test or by someone else.
    std::vector<std::unique_ptr<PortHolder>> holders;
    for (std::uint32_t port = 65530; port <= 65535; ++port) {
        holders.push_back(std::make_unique<PortHolder>(static_cast<std::uint16_t>(port)));
    }
    try {
        PortSelector::findAvailablePort(65530, 100);
        FAIL() << "expected PortError";
    } catch (const PortError& error) {
        EXPECT_EQ(error, PortError::noFreePort(65530, 100));
        EXPECT_EQ(std::string(error.what()),
                  "No free TCP port on 127.0.0.1 in 100 ports from 65530.");
        EXPECT_STREQ(error.what(), "No free TCP port on 127.0.0.1 in 100 ports from 65530.");
    }
}

TEST(PortSelectorTest, ALimitOfZeroOrLessThrowsAtOnce) {
    for (int limit : {0, -5}) {
        try {
            PortSelector::findAvailablePort(8787, limit);
            FAIL() << "expected PortError";
        } catch (const PortError& error) {
            EXPECT_EQ(error.from(), 8787);
            EXPECT_EQ(error.attempts(), limit);
        }
    }
}

TEST(PortSelectorTest, BaseURLAndItsPort) {
    EXPECT_EQ(PortSelector::baseURL(8787), "http://127.0.0.1:8787");
    struct Case {
        const char* url;
        std::optional<std::uint16_t> port;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8787", 8787},
        {"http://127.0.0.1:8787/", 8787},
        {"https://api.example.com:9443/v1", 9443},
        {"http://localhost:1", 1},
        {"http://[::1]:65535", 65535},
        {"http://127.0.0.1", std::nullopt},
        {"https://api.example.com/", std::nullopt},
        {"http://127.0.0.1:0", std::nullopt},
        {"http://127.0.0.1:65536", std::nullopt},
        {"http://127.0.0.1:99999", std::nullopt},
        {"not a url", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PortSelector::port(c.url), c.port) << c.url;
    }
}

} // namespace
} // namespace meterly::config
