#include "config/URLComponents.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace meterly::config {
namespace {

TEST(URLComponentsTest, SplitsSchemeHostAndPort) {
    struct Case {
        std::string text;
        bool parses;
        std::optional<std::string> host;
        std::optional<std::uint32_t> port;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8787", true, "127.0.0.1", 8787},
        {"http://127.0.0.1:8787/v1/messages?x=1#y", true, "127.0.0.1", 8787},
        {"https://user:pw@example.com:443", true, "example.com", 443},
        {"http://[::1]:9000/", true, "[::1]", 9000},
        {"http://example.com", true, "example.com", std::nullopt},
        {"http://example.com:/", true, "example.com", std::nullopt},
        {"http://h:0", true, "h", 0},
        {"http://h:99999", true, "h", 99999},
        {"mailto:someone", true, std::nullopt, std::nullopt},
        {"/just/a/path", true, std::nullopt, std::nullopt},
        {"127.0.0.1:8787", false, std::nullopt, std::nullopt},
        {"http://h:12ab", false, std::nullopt, std::nullopt},
        {"http://h :80", false, std::nullopt, std::nullopt},
        {"http://[::1", false, std::nullopt, std::nullopt},
        {"http://h/%zz", false, std::nullopt, std::nullopt},
        {"http://h/caf\xC3\xA9", false, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        auto parsed = URLComponents::parse(c.text);
        ASSERT_EQ(parsed.has_value(), c.parses) << c.text;
        if (parsed) {
            EXPECT_EQ(parsed->host, c.host) << c.text;
            EXPECT_EQ(parsed->port, c.port) << c.text;
        }
    }
}

} // namespace
} // namespace meterly::config
