#include "proxy/HTTPHeaders.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace meterly::proxy {
namespace {

using ::testing::ElementsAre;

HTTPHeaders sample() {
    return HTTPHeaders::fromPairs(
        {{"Content-Length", "12"}, {"X-Trace", "first"}, {"Accept", "*/*"}, {"x-trace", "second"}});
}

TEST(HTTPHeadersTest, LookupsIgnoreCaseAndTheFirstFieldAnswers) {
    const HTTPHeaders headers = sample();
    EXPECT_EQ(headers["content-length"], "12");
    EXPECT_EQ(headers["X-TRACE"], "first");
    EXPECT_EQ(headers["Missing"], std::nullopt);
    EXPECT_TRUE(headers.contains("ACCEPT"));
    EXPECT_FALSE(headers.contains("Accept-Encoding"));
    EXPECT_THAT(headers.values("x-Trace"), ElementsAre("first", "second"));
    EXPECT_TRUE(headers.values("nothing").empty());
}

TEST(HTTPHeadersTest, LookupsFoldNonASCIILetters) {
    HTTPHeaders headers;
    headers.append("X-\xC3\x89t\xC3\xA9", "v"); // "X-Été"
    EXPECT_EQ(headers["x-\xC3\xA9t\xC3\xA9"], "v");
    EXPECT_EQ(headers.dictionary().count("x-\xC3\xA9t\xC3\xA9"), 1U);
}

TEST(HTTPHeadersTest, NamesMatchWhenTheirLowerCaseFormsAreEqual) {
    struct Case {
        std::string field;
        std::string lookup;
        bool found;
    };
    const Case cases[] = {
        {"Content-Length", "content-length", true},
        {"Content-Length", "Content-Lengt", false},
        {"Content-Lengt", "Content-Length", false},
        {"Content-Length", "Content-Lenhth", false},
        // The Kelvin sign lower-cases to an ASCII "k", so names of different sizes can match.
        {"\xE2\x84\xAA"
         "eep-Alive",
         "keep-alive", true},
        {"keep-alive",
         "\xE2\x84\xAA"
         "eep-Alive",
         true},
        {"X-Ab", "x-ab\xE2\x84\xAA", false},
        {"X-Ab\xE2\x84\xAA", "x-abk", true},
        {"", "", true},
    };
    for (const auto& c : cases) {
        HTTPHeaders headers;
        headers.append(c.field, "v");
        EXPECT_EQ(headers.contains(c.lookup), c.found) << c.field << " / " << c.lookup;
    }
}

TEST(HTTPHeadersTest, DictionaryIsKeyedByLowerCaseNameAndTheLastFieldWins) {
    EXPECT_EQ(sample().dictionary(),
              (HTTPHeaders::Dictionary{
                  {"accept", "*/*"}, {"content-length", "12"}, {"x-trace", "second"}}));
}

TEST(HTTPHeadersTest, EqualityComparesNamesExactly) {
    EXPECT_EQ(HTTPHeaders({{"Host", "a"}}), HTTPHeaders({{"Host", "a"}}));
    EXPECT_NE(HTTPHeaders({{"Host", "a"}}), HTTPHeaders({{"host", "a"}}));
    EXPECT_NE(HTTPHeaders({{"A", "1"}, {"B", "2"}}), HTTPHeaders({{"B", "2"}, {"A", "1"}}));
}

TEST(HTTPHeadersTest, AppendKeepsDuplicatesAndRemoveAllKeepsTheOrderOfTheRest) {
    HTTPHeaders headers = sample();
    headers.append("Accept", "text/plain");
    EXPECT_THAT(headers.values("accept"), ElementsAre("*/*", "text/plain"));
    headers.removeAll("X-TRACE");
    EXPECT_EQ(headers,
              HTTPHeaders({{"Content-Length", "12"}, {"Accept", "*/*"}, {"Accept", "text/plain"}}));
}

TEST(HTTPHeadersTest, SetReplacesEveryMatchingFieldWithOneAtTheEnd) {
    HTTPHeaders headers = sample();
    headers.set("X-TRACE", "only");
    EXPECT_EQ(headers,
              HTTPHeaders({{"Content-Length", "12"}, {"Accept", "*/*"}, {"X-TRACE", "only"}}));
}

TEST(HTTPHeadersTest, FilteredKeepsMatchingFieldsInOrder) {
    const HTTPHeaders kept =
        sample().filtered([](const HTTPHeaderField& field) { return field.value() != "*/*"; });
    EXPECT_EQ(kept,
              HTTPHeaders({{"Content-Length", "12"}, {"X-Trace", "first"}, {"x-trace", "second"}}));
}

TEST(HTTPHeadersTest, SerializedWritesEachFieldWithCRLFAndNothingElse) {
    EXPECT_EQ(sample().serialized(),
              "Content-Length: 12\r\nX-Trace: first\r\nAccept: */*\r\nx-trace: second\r\n");
    EXPECT_EQ(HTTPHeaders().serialized(), "");
}

} // namespace
} // namespace meterly::proxy
