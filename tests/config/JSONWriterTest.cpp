#include "config/JSONWriter.hpp"

#include "config/JSONParser.hpp"

#include <gtest/gtest.h>
#include <string>

namespace meterly::config {
namespace {

TEST(JSONWriterTest, SettingsDocumentLayout) {
    JSONObject env;
    env.set("ANTHROPIC_BASE_URL", JSONValue::string("http://127.0.0.1:8787"));
    JSONObject root;
    root.set("env", JSONValue::object(env));
    EXPECT_EQ(JSONWriter::string(JSONValue::object(root)),
              "{\n  \"env\": {\n    \"ANTHROPIC_BASE_URL\": \"http://127.0.0.1:8787\"\n  }\n}\n");
}

TEST(JSONWriterTest, ScalarsAndEmptyContainers) {
    JSONObject root{
        {"t", JSONValue::boolean(true)},
        {"f", JSONValue::boolean(false)},
        {"n", JSONValue::null()},
        {"a", JSONValue::array({})},
        {"o", JSONValue::object({})},
        {"deep", JSONValue::array({JSONValue::array({}), JSONValue::object({})})},
    };
    EXPECT_EQ(JSONWriter::string(JSONValue::object(root)), "{\n"
                                                           "  \"t\": true,\n"
                                                           "  \"f\": false,\n"
                                                           "  \"n\": null,\n"
                                                           "  \"a\": [],\n"
                                                           "  \"o\": {},\n"
                                                           "  \"deep\": [\n"
                                                           "    [],\n"
                                                           "    {}\n"
                                                           "  ]\n"
                                                           "}\n");
    EXPECT_EQ(JSONWriter::string(JSONValue::object({})), "{}\n");
    EXPECT_EQ(JSONWriter::string(JSONValue::number("-0")), "-0\n");
}

TEST(JSONWriterTest, QuotesStrings) {
    struct Case {
        std::string text;
        std::string written;
    };
    const Case cases[] = {
        {"say \"hi\" \\ bye", R"("say \"hi\" \\ bye")"},
        {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
        {"\x1F\x1B\x01", R"("\u001f\u001b\u0001")"},
        {std::string("\0", 1), R"("\u0000")"},
        {"a/b\x7F", "\"a/b\x7F\""},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JSONWriter::string(JSONValue::string(c.text)), c.written + "\n");
        // The key position quotes the same way.
        JSONObject object{{c.text, JSONValue::null()}};
        EXPECT_EQ(JSONWriter::string(JSONValue::object(object)),
                  "{\n  " + c.written + ": null\n}\n");
    }
}

TEST(JSONWriterTest, OwnOutputRoundTripsByteForByte) {
    const std::string source =
        "\xEF\xBB\xBF{\"permissions\":{\"allow\":[\"Bash(ls:*)\",\"Read\"]},"
        "\"n\":[1.0,1e3,-0.5E-2],\"s\":\"tab\\there \\u001f \\ud83d\\ude00\","
        "\"e\":{},\"z\":[[],{}],\"b\":false}";
    auto once = JSONWriter::string(JSONParser::parse(source));
    auto twice = JSONWriter::string(JSONParser::parse(once));
    EXPECT_EQ(once, twice);
    EXPECT_EQ(JSONParser::parse(once), JSONParser::parse(source));
}

TEST(JSONObjectTest, KeepsInsertionOrder) {
    JSONObject object{{"a", JSONValue::number("1")},
                      {"b", JSONValue::number("2")},
                      {"a", JSONValue::number("3")}};
    EXPECT_EQ(object.keys(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(*object.get("a")->numberText(), "3");

    object.set("a", JSONValue::number("4"));
    EXPECT_EQ(object.keys(), (std::vector<std::string>{"a", "b"}));
    object.set("c", JSONValue::number("5"));
    EXPECT_EQ(object.keys(), (std::vector<std::string>{"a", "b", "c"}));

    auto removed = object.removeValue("a");
    ASSERT_TRUE(removed);
    EXPECT_EQ(*removed->numberText(), "4");
    EXPECT_FALSE(object.removeValue("a"));
    EXPECT_EQ(object.keys(), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(*object.get("c")->numberText(), "5");
    object.set("a", JSONValue::null());
    EXPECT_EQ(object.keys(), (std::vector<std::string>{"b", "c", "a"}));
    EXPECT_EQ(object.count(), 3U);
    EXPECT_FALSE(object.contains("x"));
    EXPECT_EQ(object.get("x"), nullptr);

    JSONObject copy = object;
    copy.set("b", JSONValue::boolean(true));
    EXPECT_EQ(object.get("b")->kind(), JSONValue::Kind::number);
    EXPECT_NE(copy, object);
}

} // namespace
} // namespace meterly::config
