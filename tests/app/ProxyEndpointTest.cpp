#include "app/ProxyEndpoint.hpp"

#include "support/TempDir.hpp"

#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace meterly::app {
namespace {

core::EnvironmentLookup environmentOf(std::map<std::string, std::string> values) {
    return [values = std::move(values)](std::string_view name) -> std::optional<std::string> {
        auto found = values.find(std::string(name));
        if (found == values.end()) {
            return std::nullopt;
        }
        return found->second;
    };
}

TEST(ProxyEndpointTest, ReadsOnlyWholeDecimalPorts) {
    struct Case {
        std::string text;
        std::optional<std::uint16_t> port;
    };
    const std::vector<Case> cases = {
        {"8787", 8787},
        {"0", 0},
        {"65535", 65535},
        {"+9000", 9000},
        {"-0", 0},
        {"007", 7},
        {"65536", std::nullopt},
        {"-1", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"++1", std::nullopt},
        {" 80", std::nullopt},
        {"80 ", std::nullopt},
        {"8o", std::nullopt},
        {"0x50", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProxyEndpoint::readPort(c.text), c.port) << '"' << c.text << '"';
    }
}

TEST(ProxyEndpointTest, ExplicitPortPrefersTheArgumentThenTheEnvironment) {
    struct Case {
        std::vector<std::string> arguments;
        std::map<std::string, std::string> environment;
        std::optional<std::uint16_t> port;
    };
    const std::vector<Case> cases = {
        {{"meterly", "--proxy", "--port", "9100"}, {{"METERLY_PORT", "9200"}}, 9100},
        {{"meterly", "--proxy", "--port"}, {{"METERLY_PORT", "9200"}}, 9200},
        {{"meterly", "--port", "abc"}, {{"METERLY_PORT", "9200"}}, 9200},
        {{"meterly", "--port", "70000"}, {{"METERLY_PORT", "9200"}}, 9200},
        {{"meterly", "--port", ""}, {{"METERLY_PORT", "9200"}}, 9200},
        {{"meterly", "--port", "abc"}, {{"METERLY_PORT", ""}}, std::nullopt},
        {{"meterly", "--port", "abc"}, {{"METERLY_PORT", "x"}}, std::nullopt},
        {{"meterly", "--proxy"}, {}, std::nullopt},
        // Only the first "--port" counts.
        {{"meterly", "--port", "1", "--port", "2"}, {}, 1},
        {{"meterly", "--port=9100"}, {}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProxyEndpoint::explicitPort(c.arguments, environmentOf(c.environment)), c.port)
            << ::testing::PrintToString(c.arguments);
    }
}

TEST(ProxyEndpointTest, ConfiguredPortIsThePortOfAnyBaseURL) {
    struct Case {
        std::optional<std::string> settings;
        std::optional<std::uint16_t> port;
    };
    const std::vector<Case> cases = {
        {R"({"env":{"ANTHROPIC_BASE_URL":"http://127.0.0.1:8899"}})", 8899},
        {R"({"env":{"ANTHROPIC_BASE_URL":"https://proxy.example.com:4443/v1"}})", 4443},
        {R"({"env":{"ANTHROPIC_BASE_URL":"http://127.0.0.1"}})", std::nullopt},
        {R"({"env":{"ANTHROPIC_BASE_URL":"http://127.0.0.1:99999"}})", std::nullopt},
        {R"({"env":{}})", std::nullopt},
        {"{not json", std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        testing::TempDir home;
        if (c.settings) {
            home.write(".claude/settings.json", *c.settings);
        }
        EXPECT_EQ(ProxyEndpoint::configuredPort(home.path(), environmentOf({})), c.port)
            << c.settings.value_or("(no file)");
    }
}

TEST(ProxyEndpointTest, ResolutionFallsBackToTheInstallationDefault) {
    testing::TempDir home;
    std::vector<std::string> noPort = {"meterly", "--proxy"};
    EXPECT_EQ(ProxyEndpoint::resolve(noPort, home.path(), environmentOf({})), 8787);
    EXPECT_EQ(
        ProxyEndpoint::resolve(noPort, home.path(), environmentOf({{"METERLY_INSTALL", "dev"}})),
        8900);

    home.write(".claude/settings.json",
               R"({"env":{"ANTHROPIC_BASE_URL":"http://127.0.0.1:8811"}})");
    EXPECT_EQ(ProxyEndpoint::resolve(noPort, home.path(), environmentOf({})), 8811);
    EXPECT_EQ(
        ProxyEndpoint::resolve(noPort, home.path(), environmentOf({{"METERLY_PORT", "8822"}})),
        8822);
}

} // namespace
} // namespace meterly::app
