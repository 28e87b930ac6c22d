#include "proxy/BodyFraming.hpp"

#include <gtest/gtest.h>

namespace meterly::proxy {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

TEST(BodyFramingTest, Request) {
    struct Case {
        Fields fields;
        BodyFraming expected;
    };
    const Case cases[] = {
        {{}, BodyFraming::none()},
        {{{"Content-Length", "42"}}, BodyFraming::contentLength(42)},
        {{{"content-length", " \t42 "}}, BodyFraming::contentLength(42)},
        {{{"Content-Length", "+42"}}, BodyFraming::contentLength(42)},
        {{{"Content-Length", "0"}}, BodyFraming::none()},
        {{{"Content-Length", "-3"}}, BodyFraming::none()},
        {{{"Content-Length", ""}}, BodyFraming::none()},
        {{{"Content-Length", "twelve"}}, BodyFraming::none()},
        {{{"Content-Length", "4 2"}}, BodyFraming::none()},
        {{{"Content-Length", "99999999999999999999"}}, BodyFraming::none()},
        {{{"Content-Length", "7"}, {"Content-Length", "9"}}, BodyFraming::contentLength(7)},
        {{{"Transfer-Encoding", "chunked"}}, BodyFraming::chunked()},
        {{{"Transfer-Encoding", "gzip, CHUNKED"}}, BodyFraming::chunked()},
        {{{"Content-Length", "10"}, {"Transfer-Encoding", "chunked"}}, BodyFraming::chunked()},
        {{{"Transfer-Encoding", "gzip"}, {"Content-Length", "10"}}, BodyFraming::contentLength(10)},
    };
    for (const auto& c : cases) {
        const HTTPRequestHead head("POST", "/", "HTTP/1.1", HTTPHeaders::fromPairs(c.fields));
        EXPECT_EQ(BodyFraming::forRequest(head), c.expected) << head.headers().serialized();
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
        {"GET", 200, {{"Content-Length", "-1"}}, BodyFraming::none()},
        {"GET", 200, {{"Content-Length", "lots"}}, BodyFraming::untilClose()},
        {"GET", 200, {{"Content-Length", "  "}}, BodyFraming::untilClose()},
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
