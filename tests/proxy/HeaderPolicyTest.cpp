#include "proxy/HeaderPolicy.hpp"

#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <limits>

namespace meterly::proxy {
namespace {

const std::string upstream = "api.upstream.test";

// The fields written straight into a head's bytes are the fields the policy gives, serialised,
// after whatever the head held already.
std::string appended(const std::function<void(Bytes&)>& append) {
    Bytes out(asBytes("GET / HTTP/1.1\r\n").begin(), asBytes("GET / HTTP/1.1\r\n").end());
    append(out);
    return std::string(asText(out));
}

void expectUpstreamBytes(const HTTPHeaders& client, const std::string& host,
                         const BodyFraming& framing) {
    EXPECT_EQ(appended([&](Bytes& out) {
                  HeaderPolicy::appendUpstreamHeaders(out, client, host, framing);
              }),
              "GET / HTTP/1.1\r\n" +
                  HeaderPolicy::upstreamHeaders(client, host, framing).serialized())
        << client.serialized();
}

TEST(HeaderPolicyTest, HopByHopNames) {
    for (std::string_view name : {"Connection", "TRANSFER-ENCODING", "keep-alive", "Upgrade",
                                  "Proxy-Authorization", "proxy-connection", "PROXY-",
                                  // Lower-case to hop-by-hop names through the Unicode tables
                                  // (U+212A becomes "k", U+0130 "i").
                                  "\xE2\x84\xAA"
                                  "eep-alive",
                                  "Transfer-Encod\xC4\xB0ng"}) {
        EXPECT_TRUE(HeaderPolicy::isHopByHop(name)) << name;
    }
    for (std::string_view name :
         {"TE", "Trailer", "Host", "X-Proxy-Id", "proxy", "Keep-Alives", "X-Caf\xC3\xA9"}) {
        EXPECT_FALSE(HeaderPolicy::isHopByHop(name)) << name;
    }
}

TEST(HeaderPolicyTest, UpstreamDropsHopByHopFieldsAndPutsHostLast) {
    const HTTPHeaders client{{"Host", "127.0.0.1:8787"}, {"Connection", "keep-alive, X-Custom"},
                             {"X-Custom", "kept"},       {"keep-alive", "timeout=5"},
                             {"UPGRADE", "h2c"},         {"Proxy-Authorization", "Basic x"},
                             {"TE", "trailers"},         {"Trailer", "X-Sum"},
                             {"host", "second"},         {"Authorization", "Bearer t"}};
    EXPECT_EQ(HeaderPolicy::upstreamHeaders(client, upstream, BodyFraming::none()),
              HTTPHeaders({{"X-Custom", "kept"},
                           {"TE", "trailers"},
                           {"Trailer", "X-Sum"},
                           {"Authorization", "Bearer t"},
                           {"Host", upstream}}));
    expectUpstreamBytes(client, upstream, BodyFraming::none());
    // The room set aside holds a long host name and the longest length.
    expectUpstreamBytes(client, std::string(300, 'h'),
                        BodyFraming::contentLength(std::numeric_limits<std::int64_t>::max()));
}

TEST(HeaderPolicyTest, UpstreamFraming) {
    struct Case {
        HTTPHeaders client;
        BodyFraming framing;
        HTTPHeaders expected;
    };
    const Case cases[] = {
        {{{"Accept", "*/*"}}, BodyFraming::none(), {{"Accept", "*/*"}, {"Host", upstream}}},
        {{{"Content-Length", "0"}},
         BodyFraming::none(),
         {{"Host", upstream}, {"Content-Length", "0"}}},
        {{{"content-length", "abc"}, {"A", "1"}},
         BodyFraming::none(),
         {{"A", "1"}, {"Host", upstream}, {"Content-Length", "0"}}},
        {{{"Content-Length", "+12"}},
         BodyFraming::contentLength(12),
         {{"Host", upstream}, {"Content-Length", "12"}}},
        {{{"Transfer-Encoding", "gzip, chunked"}, {"Content-Length", "5"}, {"A", "1"}},
         BodyFraming::chunked(),
         {{"A", "1"}, {"Host", upstream}, {"Transfer-Encoding", "chunked"}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HeaderPolicy::upstreamHeaders(c.client, upstream, c.framing), c.expected)
            << c.client.serialized();
        expectUpstreamBytes(c.client, upstream, c.framing);
    }
}

TEST(HeaderPolicyTest, Downstream) {
    struct Case {
        HTTPHeaders response;
        BodyFraming framing;
        bool close;
        HTTPHeaders expected;
    };
    const Case cases[] = {
        // Keep-alive with a known length: no Connection field at all.
        {{{"Content-Length", "5"}, {"Connection", "keep-alive"}, {"X-A", "1"}},
         BodyFraming::contentLength(5),
         false,
         {{"X-A", "1"}, {"Content-Length", "5"}}},
        {{{"Content-Length", "5"}, {"X-A", "1"}},
         BodyFraming::contentLength(5),
         true,
         {{"X-A", "1"}, {"Content-Length", "5"}, {"Connection", "close"}}},
        // A response to HEAD keeps no length of the resource.
        {{{"Content-Length", "1234"}}, BodyFraming::none(), false, {{"Content-Length", "0"}}},
        {{{"X-A", "1"}}, BodyFraming::none(), false, {{"X-A", "1"}}},
        {{{"Connection", "keep-alive"}, {"X-A", "1"}},
         BodyFraming::untilClose(),
         false,
         {{"X-A", "1"}, {"Connection", "close"}}},
        {{{"Transfer-Encoding", "chunked"}, {"Keep-Alive", "timeout=5"}, {"Proxy-Foo", "x"}},
         BodyFraming::chunked(),
         true,
         {{"Transfer-Encoding", "chunked"}, {"Connection", "close"}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HeaderPolicy::downstreamHeaders(c.response, c.framing, c.close), c.expected)
            << c.response.serialized();
        EXPECT_EQ(appended([&](Bytes& out) {
                      HeaderPolicy::appendDownstreamHeaders(out, c.response, c.framing, c.close);
                  }),
                  "GET / HTTP/1.1\r\n" + c.expected.serialized());
    }
}

} // namespace
} // namespace meterly::proxy
