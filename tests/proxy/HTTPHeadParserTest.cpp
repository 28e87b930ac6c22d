#include "proxy/HTTPHeadParser.hpp"

#include "proxy/ProxyError.hpp"

#include <gtest/gtest.h>
#include <string>

namespace meterly::proxy {
namespace {

std::string text(const Bytes& data) {
    return std::string(data.begin(), data.end());
}

template <typename Parse>
void expectMalformed(Parse parse, std::string_view head) {
    try {
        parse(asBytes(head));
        ADD_FAILURE() << "accepted: " << head;
    } catch (const ProxyError& error) {
        EXPECT_EQ(error, ProxyError::malformedHead()) << head;
    }
}

TEST(HTTPHeadParserTest, EndOfHeadFindsTheFirstTerminator) {
    struct Case {
        std::string_view bytes;
        std::ptrdiff_t from;
        std::optional<std::size_t> end;
    };
    const Case cases[] = {
        {"", 0, std::nullopt},
        {"\n", 0, std::nullopt},
        {"\n\n", 0, 2},
        {"GET / HTTP/1.1\r\nA: b\r\n\r\nbody", 0, 24},
        {"GET / HTTP/1.1\nA: b\n\nbody", 0, 21},
        {"GET / HTTP/1.1\r\nA: b\r\n\nbody", 0, 23}, // CR LF then a bare LF
        {"GET / HTTP/1.1\r\nA: b\r\n\r", 0, std::nullopt},
        {"A\r\n\r\nB\r\n\r\n", 3, 10},
        {"A\r\n\r\nB\r\n\r\n", -5, 5},
        {"A\r\n\r\n", 99, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HTTPHeadParser::endOfHead(asBytes(c.bytes), c.from), c.end) << c.bytes;
    }
}

TEST(HTTPHeadParserTest, ParsesARequestWrittenWithBareLineFeedsLikeCRLF) {
    const auto crlf = HTTPHeadParser::parseRequest(
        asBytes("POST /v1/messages?beta=true HTTP/1.1\r\nHost: 127.0.0.1:8787\r\n"
                "Content-Length: 5\r\n\r\n"));
    const auto lf = HTTPHeadParser::parseRequest(asBytes(
        "POST /v1/messages?beta=true HTTP/1.1\nHost: 127.0.0.1:8787\nContent-Length: 5\n\n"));
    EXPECT_EQ(crlf, lf);
    EXPECT_EQ(crlf.method(), "POST");
    EXPECT_EQ(crlf.target(), "/v1/messages?beta=true");
    EXPECT_EQ(crlf.version(), "HTTP/1.1");
    EXPECT_EQ(crlf.headers(), HTTPHeaders({{"Host", "127.0.0.1:8787"}, {"Content-Length", "5"}}));
    // Without the blank line the head parses the same.
    EXPECT_EQ(HTTPHeadParser::parseRequest(
                  asBytes("POST /v1/messages?beta=true HTTP/1.1\r\nHost: 127.0.0.1:8787\r\n"
                          "Content-Length: 5")),
              crlf);
}

TEST(HTTPHeadParserTest, RequestLineSplitsOnRunsOfSpaces) {
    const auto spaced = HTTPHeadParser::parseRequest(asBytes("  GET   /a   HTTP/1.1  \r\n\r\n"));
    EXPECT_EQ(spaced, HTTPRequestHead("GET", "/a", "HTTP/1.1", {}));
    const auto four = HTTPHeadParser::parseRequest(asBytes("GET /a HTTP/1.1 extra\r\n\r\n"));
    EXPECT_EQ(four, HTTPRequestHead("GET", "/a", "HTTP/1.1", {}));
    expectMalformed(HTTPHeadParser::parseRequest, "GET /a\r\n\r\n");
}

TEST(HTTPHeadParserTest, StatusLine) {
    struct Case {
        std::string_view line;
        std::int64_t code;
        std::string_view reason;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK", 200, "OK"},
        {"HTTP/1.1 204", 204, ""},
        {"HTTP/1.1 429 Too Many  Requests ", 429, "Too Many  Requests "},
        {"HTTP/1.1 100 Continue", 100, "Continue"},
        {"HTTP/1.1 999 odd", 999, "odd"},
    };
    for (const auto& c : cases) {
        const auto head =
            HTTPHeadParser::parseResponse(asBytes(std::string(c.line) + "\r\nA: b\r\n\r\n"));
        EXPECT_EQ(head.version(), "HTTP/1.1") << c.line;
        EXPECT_EQ(head.statusCode(), c.code) << c.line;
        EXPECT_EQ(head.reasonPhrase(), c.reason) << c.line;
    }
    // The code is exactly three digits, 100 to 999.
    for (std::string_view line :
         {"HTTP/1.1", "HTTP/1.1  200 OK", "HTTP/1.1 2x0 OK", "HTTP/1.1 + OK", "HTTP/1.1 +-2 OK",
          "HTTP/1.1 9223372036854775808 OK", "HTTP/1.1 0x10 OK", "HTTP/1.1 200\tOK",
          "HTTP/1.1 +200 OK", "HTTP/1.1 -1 odd", "HTTP/1.1 0 zero", "HTTP/1.1 000 zero",
          "HTTP/1.1 099 low", "HTTP/1.1 1000 high", "HTTP/1.1 99999999999 huge",
          "HTTP/1.1 -9223372036854775808 min"}) {
        expectMalformed(HTTPHeadParser::parseResponse, std::string(line) + "\r\n\r\n");
    }
}

TEST(HTTPHeadParserTest, HeaderLines) {
    const auto head = HTTPHeadParser::parseRequest(asBytes("GET / HTTP/1.1\r\n"
                                                           "X-Folded: one\r\n"
                                                           " \t two \r\n"
                                                           "\tthree\r\n"
                                                           "Empty:\r\n"
                                                           "Trim: \t value\twith inner \t \r\n"
                                                           "Colon: a:b\r\n"
                                                           "Late:\r\n"
                                                           " value\r\n"
                                                           "\r\n"));
    EXPECT_EQ(head.headers(), HTTPHeaders({{"X-Folded", "one two three"},
                                           {"Empty", ""},
                                           {"Trim", "value\twith inner"},
                                           {"Colon", "a:b"},
                                           // The joining space stays after an empty value.
                                           {"Late", " value"}}));
}

TEST(HTTPHeadParserTest, TrimsUnicodeSpaceSeparators) {
    // U+3000 ideographic space before, U+00A0 no-break space after.
    const auto head =
        HTTPHeadParser::parseRequest(asBytes("GET / HTTP/1.1\r\nA: \xE3\x80\x80x\xC2\xA0\r\n\r\n"));
    EXPECT_EQ(head.headers()["A"], "x");
}

TEST(HTTPHeadParserTest, HeaderBytesAreKeptAsReceived) {
    // Bytes that are not UTF-8 (Latin-1 here) are neither rejected nor re-encoded.
    const auto head = HTTPHeadParser::parseRequest(
        asBytes("GET /caf\xE9 HTTP/1.1\r\nX-Name: caf\xE9\r\nX-Utf8: caf\xC3\xA9\r\n\r\n"));
    EXPECT_EQ(head.target(), "/caf\xE9");
    EXPECT_EQ(head.headers()["x-name"], "caf\xE9");
    EXPECT_EQ(head.headers()["x-utf8"], "caf\xC3\xA9");
    EXPECT_EQ(text(head.serialized()),
              "GET /caf\xE9 HTTP/1.1\r\nX-Name: caf\xE9\r\nX-Utf8: caf\xC3\xA9\r\n\r\n");
}

TEST(HTTPHeadParserTest, RefusesWhitespaceInNamesAndBareCROrNUL) {
    using namespace std::string_literals;
    for (const std::string& field : {
             "Transfer-Encoding : chunked"s,
             "Content-Length\t: 30"s,
             "Two Words: x"s,
             "A: y\rB: z"s,
             "A\rB: z"s,
             "A: y\r"s,
             "A: x\0y"s,
             "A\0: x"s,
         }) {
        const std::string head = "GET / HTTP/1.1\r\n" + field + "\r\n\r\n";
        expectMalformed(HTTPHeadParser::parseRequest, head);
    }
    // A bare CR or a NUL in the start line is refused as well.
    expectMalformed(HTTPHeadParser::parseRequest, "GET /a\rb HTTP/1.1\r\n\r\n"s);
    expectMalformed(HTTPHeadParser::parseRequest, "GET /a\0b HTTP/1.1\r\n\r\n"s);
    expectMalformed(HTTPHeadParser::parseResponse, "HTTP/1.1 200 OK\r\nA: y\rB: z\r\n\r\n"s);
    expectMalformed(HTTPHeadParser::parseResponse, "HTTP/1.1 200 OK\r\nA: \0\r\n\r\n"s);
    expectMalformed(HTTPHeadParser::parseResponse, "HTTP/1.1 200 OK\r\nTwo Words: x\r\n\r\n"s);

    // In a response the whitespace between name and colon is removed before it goes on.
    const auto response =
        HTTPHeadParser::parseResponse(asBytes("HTTP/1.1 200 OK\r\nContent-Length \t: 5\r\n\r\n"));
    EXPECT_EQ(response.headers(), HTTPHeaders({{"Content-Length", "5"}}));
}

TEST(HTTPHeadParserTest, EveryByteOfANameIsCheckedWhateverItsLengthAndPlace) {
    // Names are checked several bytes at a time: a forbidden byte must be found at every offset,
    // in the whole words and in the tail, and bytes next to the forbidden ranges must pass.
    for (std::size_t length = 1; length <= 19; ++length) {
        for (std::size_t at = 0; at < length; ++at) {
            for (const char forbidden : {'\x01', '\t', '\x1F', ' ', '\x7F'}) {
                std::string name(length, 'n');
                name[at] = forbidden;
                expectMalformed(HTTPHeadParser::parseRequest,
                                "GET / HTTP/1.1\r\n" + name + ": v\r\n\r\n");
            }
            for (const char allowed : {'!', '~', '\x80', '\xFF'}) {
                std::string name(length, 'n');
                name[at] = allowed;
                const auto head = HTTPHeadParser::parseRequest(
                    asBytes("GET / HTTP/1.1\r\n" + name + ": v\r\n\r\n"));
                ASSERT_EQ(head.headers().fields().size(), 1u) << name;
                EXPECT_EQ(head.headers().fields()[0].name(), name);
            }
        }
    }
}

TEST(HTTPHeadParserTest, RejectsMalformedHeads) {
    for (std::string_view head : {
             "", "\r\n\r\n", "\n\n\n",
             "\r\nGET / HTTP/1.1\r\n\r\n", // empty start line
             "GET / HTTP/1.1\r\n folded-first\r\n\r\n", "GET / HTTP/1.1\r\nno colon here\r\n\r\n",
             "GET / HTTP/1.1\r\n: empty name\r\n\r\n",
             "GET / HTTP/1.1\r\nA: b\r\n\r\nC: d\r\n\r\n", // blank line inside
         }) {
        expectMalformed(HTTPHeadParser::parseRequest, head);
    }
    expectMalformed(HTTPHeadParser::parseResponse, "HTTP/1.1 200 OK\r\n: x\r\n\r\n");
}

TEST(HTTPHeadParserTest, RequestPathStopsAtQueryOrFragment) {
    for (auto [target, path] : std::initializer_list<std::pair<const char*, const char*>>{
             {"/v1/messages?beta=true", "/v1/messages"},
             {"/doc#part?x", "/doc"},
             {"/plain", "/plain"},
             {"?only", ""}}) {
        EXPECT_EQ(HTTPRequestHead("GET", target, "HTTP/1.1", {}).path(), path);
    }
}

TEST(HTTPHeadParserTest, DuplicateFieldsSurviveAParseAndRenderInOrder) {
    const std::string wire = "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nset-cookie: b=2\r\n\r\n";
    const auto head = HTTPHeadParser::parseResponse(asBytes(wire));
    EXPECT_EQ(head.headers()["Set-Cookie"], "a=1");
    EXPECT_EQ(head.headers().dictionary().at("set-cookie"), "b=2");
    EXPECT_EQ(text(head.serialized()), wire);
}

TEST(HTTPHeadParserTest, RendersHeads) {
    const HTTPHeaders headers{{"A", "1"}};
    EXPECT_EQ(text(HTTPRequestHead("GET", "/x?y", "HTTP/1.0", headers).serialized()),
              "GET /x?y HTTP/1.0\r\nA: 1\r\n\r\n");
    EXPECT_EQ(text(HTTPResponseHead("HTTP/1.1", 204, "", headers).serialized()),
              "HTTP/1.1 204\r\nA: 1\r\n\r\n");
    EXPECT_EQ(text(HTTPResponseHead("HTTP/1.1", 200, "OK", {}).serialized()),
              "HTTP/1.1 200 OK\r\n\r\n");
}

} // namespace
} // namespace meterly::proxy
