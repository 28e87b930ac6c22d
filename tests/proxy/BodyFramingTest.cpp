#include "proxy/BodyFraming.hpp"

#include "proxy/ProxyError.hpp"

#include <gtest/gtest.h>
#include <optional>

namespace meterly::proxy {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

TEST(BodyFramingTest, Request) {
    struct Case {
        Fields fields;
        std::optional<BodyFraming> expected; // nullopt: no way to find the body's end
    };
    const Case cases[] = {
        {{}, BodyFraming::none()},
        {{{"Content-Length", "42"}}, BodyFraming::contentLength(42)},
        {{{"content-length", " \t42 "}}, BodyFraming::contentLength(42)},
        {{{"Content-Length", "0"}}, BodyFraming::none()},
        {{{"Content-Length", "007"}}, BodyFraming::contentLength(7)},
        {{{"Content-Length", "7"}, {"Content-Length", "7"}}, BodyFraming::contentLength(7)},
        {{{"Transfer-Encoding", "chunked"}}, BodyFraming::chunked()},
        {{{"Transfer-Encoding", "gzip, CHUNKED"}}, BodyFraming::chunked()},
        {{{"Transfer-Encoding", "gzip"}, {"Transfer-Encoding", " chunked "}},
         BodyFraming::chunked()},
        {{{"Content-Length", "10"}, {"Transfer-Encoding", "chunked"}}, BodyFraming::chunked()},
        // Lengths that are not one plain decimal number.
        {{{"Content-Length", "+42"}}, std::nullopt},
        {{{"Content-Length", "-3"}}, std::nullopt},
        {{{"Content-Length", "-5"}}, std::nullopt},
        {{{"Content-Length", ""}}, std::nullopt},
        {{{"Content-Length", "twelve"}}, std::nullopt},
        {{{"Content-Length", "4 2"}}, std::nullopt},
        {{{"Content-Length", "5, 5"}}, std::nullopt},
        {{{"Content-Length", "99999999999999999999"}}, std::nullopt},
        {{{"Content-Length", "7"}, {"Content-Length", "9"}}, std::nullopt},
        // Codings whose last one is not exactly "chunked".
        {{{"Transfer-Encoding", "gzip"}, {"Content-Length", "10"}}, std::nullopt},
        {{{"Transfer-Encoding", "xchunkedx"}}, std::nullopt},
        {{{"Transfer-Encoding", "chunked, gzip"}}, std::nullopt},
        {{{"Transfer-Encoding", "chunked"}, {"Transfer-Encoding", "identity"}}, std::nullopt},
        {{{"Transfer-Encoding", ""}}, std::nullopt},
    };
    for (const auto& c : cases) {
        const HTTPRequestHead head("POST", "/", "HTTP/1.1", HTTPHeaders::fromPairs(c.fields));
        if (c.expected) {
            EXPECT_EQ(BodyFraming::forRequest(head), *c.expected) << head.headers().serialized();
            continue;
        }
        try {
            const auto framing = BodyFraming::forRequest(head);
            ADD_FAILURE() << head.headers().serialized() << " framed as " << framing;
        } catch (const ProxyError& error) {
            EXPECT_EQ(error, ProxyError::invalidFraming()) << head.headers().serialized();
        }
    }
}

TEST(BodyFramingTest, Response) {
    struct Case {
        std::string method;
        std::int64_t status;
        Fields fields;
        BodyFraming expected;
    };
    const Fields length{{"Content-Length", "1234"}};
    const Fields chunked{{"Transfer-Encoding", "chunked"}};
    const Case cases[] = {
        {"GET", 200, {}, BodyFraming::untilClose()},
        {"GET", 200, length, BodyFraming::contentLength(1234)},
        {"GET", 200, chunked, BodyFraming::chunked()},
        {"HEAD", 200, length, BodyFraming::none()},
        {"head", 200, chunked, BodyFraming::none()},
        {"GET", 100, length, BodyFraming::none()},
        {"GET", 199, chunked, BodyFraming::none()},
        {"GET", 204, length, BodyFraming::none()},
        {"GET", 304, length, BodyFraming::none()},
        {"CONNECT", 200, length, BodyFraming::none()},
        {"connect", 299, {}, BodyFraming::none()},
        {"CONNECT", 407, length, BodyFraming::contentLength(1234)},
        {"GET", 200, {{"Content-Length", "0"}}, BodyFraming::none()},
        // A length that cannot be trusted, or codings that do not end in chunked: until close.
        {"GET", 200, {{"Content-Length", "-1"}}, BodyFraming::untilClose()},
        {"GET", 200, {{"Content-Length", "lots"}}, BodyFraming::untilClose()},
        {"GET", 200, {{"Content-Length", "  "}}, BodyFraming::untilClose()},
        {"GET", 200, {{"Content-Length", "5, 5"}}, BodyFraming::untilClose()},
        {"GET", 200, {{"Content-Length", "5"}, {"Content-Length", "6"}}, BodyFraming::untilClose()},
        {"GET", 200, {{"Transfer-Encoding", "gzip"}}, BodyFraming::untilClose()},
        {"GET", 200, {{"Transfer-Encoding", "xchunkedx"}}, BodyFraming::untilClose()},
        {"GET",
         200,
         {{"Transfer-Encoding", "gzip"}, {"Content-Length", "5"}},
         BodyFraming::untilClose()},
        {"GET", 200, {{"Transfer-Encoding", "gzip, chunked"}}, BodyFraming::chunked()},
        {"POST",
         500,
         {{"Transfer-Encoding", "Chunked"}, {"Content-Length", "5"}},
         BodyFraming::chunked()},
    };
    for (const auto& c : cases) {
        const HTTPResponseHead head("HTTP/1.1", c.status, "", HTTPHeaders::fromPairs(c.fields));
        EXPECT_EQ(BodyFraming::forResponse(head, c.method), c.expected)
            << c.method << " " << c.status << " " << head.headers().serialized();
    }
}

} // namespace
} // namespace meterly::proxy
