#include "proxy/KnownHeaderName.hpp"

#include "proxy/HTTPHeadParser.hpp"
#include "proxy/HTTPHeaderField.hpp"

#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace meterly::proxy {
namespace {

using Field = core::RateLimitHeaderParser::Field;
using Kind = KnownHeaderName::Kind;

TEST(KnownHeaderNameTest, NamesAreKnownByTheirLowerCaseForm) {
    struct Case {
        std::string name;
        Kind kind;
    };
    const Case cases[] = {
        {"Host", Kind::host},
        {"HOST", Kind::host},
        {"Hosts", Kind::other},
        {"connection", Kind::connection},
        {"Content-Length", Kind::contentLength},
        {"Content-Lengths", Kind::other},
        {"Content-Type", Kind::other},
        {"Keep-Alive", Kind::keepAlive},
        {"Upgrade", Kind::upgrade},
        {"TRANSFER-ENCODING", Kind::transferEncoding},
        {"Proxy-Authorization", Kind::proxyPrefixed},
        {"proxy-", Kind::proxyPrefixed},
        {"Proxy", Kind::other},
        {"anthropic-ratelimit-unified-5h-utilization", Kind::rateLimit},
        {"Anthropic-RateLimit-Unified-7d-Reset", Kind::rateLimit},
        {"anthropic-ratelimit-unified-", Kind::other},
        {"anthropic-version", Kind::other},
        {"Accept", Kind::other},
        {"", Kind::other},
        // The Kelvin sign lower-cases to "k", as the name lookups fold it.
        {"\xE2\x84\xAA"
         "eep-Alive",
         Kind::keepAlive},
        {"X-\xC3\x89t\xC3\xA9", Kind::other},
        // Bytes that are not UTF-8 stay as they are.
        {"Host\xFF", Kind::other},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KnownHeaderName::of(c.name).kind(), c.kind) << c.name;
        if (c.name.empty()) {
            continue;
        }
        // A parsed head knows its names the same way, by the parser's own shorter road.
        const auto request =
            HTTPHeadParser::parseRequest(asBytes("GET / HTTP/1.1\r\n" + c.name + ": x\r\n\r\n"));
        ASSERT_EQ(request.headers().fields().size(), 1U) << c.name;
        EXPECT_EQ(request.headers().fields()[0].known(), KnownHeaderName::of(c.name)) << c.name;
    }
}

TEST(KnownHeaderNameTest, RateLimitNamesSayWhichField) {
    const std::pair<std::string, Field> cases[] = {
        {"anthropic-ratelimit-unified-5h-utilization", Field::fiveHourUtilization},
        {"ANTHROPIC-RATELIMIT-UNIFIED-5H-RESET", Field::fiveHourReset},
        {"anthropic-ratelimit-unified-7d-status", Field::sevenDayStatus},
        {"anthropic-ratelimit-unified-representative-claim", Field::representativeClaim},
        {"anthropic-ratelimit-unified-overage-status", Field::overageStatus},
    };
    for (const auto& [name, field] : cases) {
        const auto known = KnownHeaderName::of(name);
        EXPECT_EQ(known.kind(), Kind::rateLimit) << name;
        EXPECT_EQ(known.rateLimitField(), field) << name;
    }
}

TEST(HTTPHeaderFieldTest, CopiesAndMovesKeepTheTextWhetherItFitsInsideOrNot) {
    const std::string longValue(300, 'v');
    for (const std::string& value : {std::string("allowed"), longValue}) {
        const HTTPHeaderField original("anthropic-ratelimit-unified-5h-status", value);
        HTTPHeaderField copy = original;
        EXPECT_EQ(copy, original);
        EXPECT_EQ(copy.known().kind(), Kind::rateLimit);

        HTTPHeaderField assigned("X-Other", "x");
        assigned = original;
        EXPECT_EQ(assigned, original);

        HTTPHeaderField moved = std::move(copy);
        EXPECT_EQ(moved.name(), "anthropic-ratelimit-unified-5h-status");
        EXPECT_EQ(moved.value(), value);
        EXPECT_EQ(moved.known().rateLimitField(), Field::fiveHourStatus);

        HTTPHeaderField moveAssigned("Host", "h");
        moveAssigned = std::move(moved);
        EXPECT_EQ(moveAssigned, original);
        EXPECT_EQ(moveAssigned.known().kind(), Kind::rateLimit);
    }
}

TEST(HTTPHeaderFieldTest, EmptyNamesAndValuesAndBinaryBytesAreKept) {
    const std::string binary("a\0b\xFF", 4);
    const HTTPHeaderField field(binary, "");
    EXPECT_EQ(field.name(), binary);
    EXPECT_EQ(field.value(), "");
    const HTTPHeaderField empty("", std::string(200, 'x'));
    EXPECT_EQ(empty.name(), "");
    EXPECT_EQ(empty.value().size(), 200U);
}

} // namespace
} // namespace meterly::proxy
