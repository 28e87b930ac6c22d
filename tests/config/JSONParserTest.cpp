#include "config/JSONParser.hpp"

#include "config/JSONWriter.hpp"

#include <gtest/gtest.h>
#include <string>

namespace meterly::config {
namespace {

std::string nested(int arrays, const std::string& inner) {
    return std::string(static_cast<std::size_t>(arrays), '[') + inner +
           std::string(static_cast<std::size_t>(arrays), ']');
}

TEST(JSONParserTest, RejectsWithTheMessageAndOffset) {
    struct Case {
        std::string text;
        std::string message;
        std::size_t offset;
    };
    const std::string bom = "\xEF\xBB\xBF";
    const Case cases[] = {
        {"", "unexpected end of input", 0},
        {" \t\r\n", "unexpected end of input", 4},
        {bom, "unexpected end of input", 3},
        {bom + "{,}", "expected a quoted object key", 4},
        {"{} x", "unexpected trailing content after the top-level JSON value", 3},
        {"1 2", "unexpected trailing content after the top-level JSON value", 2},
        {"{\"a\":1,}", "expected a quoted object key", 7},
        {"{'a':1}", "expected a quoted object key", 1},
        {"{\"a\" 1}", "expected ':' after object key 'a'", 5},
        {"{\"a\":1,\"a\":1}", "duplicate object key 'a'", 10},
        {"{\"a\\u0062\":1,\"ab\":2}", "duplicate object key 'ab'", 17},
        {"{\"a\":1", "unterminated object", 6},
        {"{\"a\":1 ]", "expected ',' or '}' in object", 7},
        {"{\"a\":", "unexpected end of input", 5},
        {"{\"a\"", "expected ':' after object key 'a'", 4},
        {"{", "expected a quoted object key", 1},
        {"[1,]", "expected a JSON value", 3},
        {"[1", "unterminated array", 2},
        {"[1 }", "expected ',' or ']' in array", 3},
        {"[", "unexpected end of input", 1},
        {"\"abc", "unterminated string", 4},
        {"\"a\tb\"", "unescaped control character in string", 2},
        {"\"a\\", "unterminated escape sequence", 3},
        {"\"\\x\"", "unknown escape sequence", 3},
        {"\"\\u12\"", "truncated \\u escape", 3},
        {"\"\\u12g4\"", "non-hex digit in \\u escape", 5},
        {"\"\\uDC00\"", "lone low surrogate in \\u escape", 7},
        {"\"\\uD83D\"", "lone high surrogate in \\u escape", 7},
        {"\"\\uD83Dx\\uDE00\"", "lone high surrogate in \\u escape", 7},
        {"\"\\uD83D\\n\"", "lone high surrogate in \\u escape", 7},
        {"\"\\uD83D\\u0041\"", "invalid low surrogate in \\u escape", 13},
        {"\"\\uD83D\\u00\"", "truncated \\u escape", 9},
        {"nul", "expected literal 'null'", 0},
        {"[tru]", "expected literal 'true'", 1},
        {"fals", "expected literal 'false'", 0},
        {"NaN", "expected a JSON value", 0},
        {"// c\n{}", "expected a JSON value", 0},
        {"+1", "expected a JSON value", 0},
        {".5", "expected a JSON value", 0},
        {"-", "expected a JSON value", 1},
        {"-x", "expected a JSON value", 1},
        {"01", "number has a leading zero", 2},
        {"-012", "number has a leading zero", 4},
        {"5.", "expected digits after '.'", 2},
        {"5.e3", "expected digits after '.'", 2},
        {"1e", "expected digits in exponent", 2},
        {"1E+", "expected digits in exponent", 3},
        {"truex", "unexpected trailing content after the top-level JSON value", 4},
        // 65 arrays around a number: the number is the value at depth 65.
        {nested(65, "1"), "JSON nested deeper than 64 levels", 65},
        // 66 arrays: the innermost opening bracket is at depth 65.
        {nested(66, ""), "JSON nested deeper than 64 levels", 65},
        // Keys do not count as values; object members do.
        {std::string(65, '[') + "{\"k\":1}", "JSON nested deeper than 64 levels", 65},
    };
    for (const auto& c : cases) {
        try {
            JSONParser::parse(c.text);
            ADD_FAILURE() << "parsed: " << c.text;
        } catch (const JSONParseError& error) {
            EXPECT_EQ(error, JSONParseError(c.message, c.offset))
                << c.text << "\n got " << std::string(error.what());
        }
    }
}

TEST(JSONParserTest, DescriptionNamesTheByte) {
    try {
        JSONParser::parse("");
        FAIL();
    } catch (const JSONParseError& error) {
        EXPECT_EQ(std::string(error.what()), "unexpected end of input (at byte 0)");
        EXPECT_STREQ(error.what(), "unexpected end of input (at byte 0)");
    }
}

TEST(JSONParserTest, AcceptsTheEdgesOfTheGrammar) {
    const std::string accepted[] = {
        "0",
        "-0",
        "0.5",
        "10",
        "-1.25e-7",
        "1E+05",
        "123456789012345678901234567890",
        "\"\"",
        "[]",
        "{}",
        " \r\n\t{ } ",
        nested(64, "1"),
        nested(65, ""),
        std::string(64, '[') + "{}" + std::string(64, ']'),
        "\xEF\xBB\xBF{\"a\":true}",
        "\"\x7F\"",
        "\"caf\xC3\xA9\"",
    };
    for (const auto& text : accepted) {
        EXPECT_NO_THROW(JSONParser::parse(text)) << text;
    }
}

TEST(JSONParserTest, DecodesStringsAndEscapes) {
    struct Case {
        std::string text;
        std::string decoded;
    };
    const Case cases[] = {
        {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
        {R"("\u0041\u00e9\u20AC")", "A\xC3\xA9\xE2\x82\xAC"},
        {R"("\uD83D\uDE00")", "\xF0\x9F\x98\x80"},
        {R"("a\u0000b")", std::string("a\0b", 3)},
        // An ill-formed byte in the source becomes U+FFFD.
        {"\"a\xFF"
         "b\"",
         "a\xEF\xBF\xBD"
         "b"},
    };
    for (const auto& c : cases) {
        auto value = JSONParser::parse(c.text);
        ASSERT_NE(value.stringValue(), nullptr) << c.text;
        EXPECT_EQ(*value.stringValue(), c.decoded) << c.text;
    }
}

TEST(JSONParserTest, KeepsMemberOrderAndNumberTexts) {
    auto value = JSONParser::parse(
        R"({"z":1.50,"a":[1E+05,-0],"m":{"big":123456789012345678901234567890,"e":1e3}})");
    ASSERT_NE(value.objectValue(), nullptr);
    const auto& root = *value.objectValue();
    EXPECT_EQ(root.keys(), (std::vector<std::string>{"z", "a", "m"}));
    EXPECT_EQ(*root.get("z")->numberText(), "1.50");
    EXPECT_EQ(*root.get("a")->arrayValue()->at(0).numberText(), "1E+05");
    EXPECT_EQ(*root.get("a")->arrayValue()->at(1).numberText(), "-0");
    EXPECT_EQ(JSONWriter::string(value), "{\n"
                                         "  \"z\": 1.50,\n"
                                         "  \"a\": [\n"
                                         "    1E+05,\n"
                                         "    -0\n"
                                         "  ],\n"
                                         "  \"m\": {\n"
                                         "    \"big\": 123456789012345678901234567890,\n"
                                         "    \"e\": 1e3\n"
                                         "  }\n"
                                         "}\n");
    EXPECT_NE(JSONParser::parse("1"), JSONParser::parse("1.0"));
    EXPECT_NE(JSONParser::parse(R"({"a":1,"b":2})"), JSONParser::parse(R"({"b":2,"a":1})"));
}

} // namespace
} // namespace meterly::config
