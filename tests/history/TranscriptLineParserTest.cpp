#include "history/TranscriptLineParser.hpp"

#include <gtest/gtest.h>
#include <string>

namespace meterly::history {
namespace {

// An assistant line as Claude Code writes it, shortened.
const std::string kBase =
    R"({"parentUuid":"p-1","isSidechain":false,"type":"assistant",)"
    R"("timestamp":"2025-06-01T12:34:56.789Z","sessionId":"s1","cwd":"/home/me/app",)"
    R"("requestId":"req_1","message":{"id":"msg_1","type":"message","role":"assistant",)"
    R"("model":"claude-x","content":[{"type":"text","text":"hi"}],"usage":{"input_tokens":1,)"
    R"("output_tokens":2,"cache_creation_input_tokens":3,"cache_read_input_tokens":4,)"
    R"("service_tier":"standard","cache_creation":{"ephemeral_5m_input_tokens":3}}},)"
    R"("uuid":"u-1","version":"2.0.0","gitBranch":"main"})";

// The base line with one piece of text replaced (which must occur in it).
std::string with(std::string_view from, std::string_view to) {
    std::string line = kBase;
    const auto pos = line.find(from);
    EXPECT_NE(pos, std::string::npos) << from;
    if (pos != std::string::npos) {
        line.replace(pos, from.size(), to);
    }
    return line;
}

UsageEntry baseEntry() {
    return UsageEntry{1748781296.789, "s1",       "proj", "/home/me/app",        "msg_1",
                      "req_1",        "claude-x", false,  TokenUsage{1, 2, 3, 4}};
}

void expectSameEntry(const std::optional<UsageEntry>& actual, const UsageEntry& expected) {
    ASSERT_TRUE(actual.has_value());
    EXPECT_NEAR(actual->timestamp, expected.timestamp, 1e-6);
    UsageEntry rest = *actual;
    rest.timestamp = expected.timestamp;
    EXPECT_EQ(rest, expected);
}

struct NoEntryCase {
    const char* reason;
    std::string line;
};

TEST(TranscriptLineParserTest, LinesThatGiveNoEntry) {
    const NoEntryCase cases[] = {
        {"empty line", ""},
        {"empty object", "{}"},
        {"not JSON", "assistant"},
        {"cut off", kBase.substr(0, kBase.size() - 1)},
        {"trailing bytes", kBase + " x"},
        {"two objects", kBase + kBase},
        {"top level array", "[" + kBase + "]"},
        {"invalid UTF-8", with("\"hi\"", "\"h\xff\"")},
        {"type user", with(R"("type":"assistant")", R"("type":"user")")},
        {"type capitalised", with(R"("type":"assistant")", R"("type":"Assistant")")},
        {"type missing", with(R"("type":"assistant",)", "")},
        {"type null", with(R"("type":"assistant")", R"("type":null)")},
        {"count as string", with(R"("input_tokens":1)", R"("input_tokens":"1")")},
        {"count with fraction", with(R"("input_tokens":1)", R"("input_tokens":1.5)")},
        {"count with exponent", with(R"("input_tokens":1)", R"("input_tokens":1e2)")},
        {"count above range", with(R"("input_tokens":1)", R"("input_tokens":9223372036854775808)")},
        {"count below range",
         with(R"("input_tokens":1)", R"("input_tokens":-9223372036854775809)")},
        {"side chain as number", with(R"("isSidechain":false)", R"("isSidechain":0)")},
        {"session as number", with(R"("sessionId":"s1")", R"("sessionId":1)")},
        {"snake-case key of the wrong type", with(R"("cwd")", R"("session_id":2,"cwd")")},
        {"timestamp as number", with(R"("2025-06-01T12:34:56.789Z")", "1748781296")},
        {"cwd as object", with(R"("/home/me/app")", "{}")},
        {"request as bool", with(R"("req_1")", "true")},
        {"message as string", with(R"("message":{)", R"("message":"x","m":{)")},
        {"id as number", with(R"("id":"msg_1")", R"("id":1)")},
        {"model as array", with(R"("claude-x")", "[]")},
        {"usage as array", with(R"("usage":{)", R"("usage":[],"u":{)")},
        {"message missing", with(R"("message":{)", R"("m":{)")},
        {"message null", with(R"("message":{)", R"("message":null,"m":{)")},
        {"usage missing", with(R"("usage":{)", R"("u":{)")},
        {"usage null", with(R"("usage":{)", R"("usage":null,"u":{)")},
        {"id missing", with(R"("id":"msg_1",)", "")},
        {"id empty", with(R"("id":"msg_1")", R"("id":"")")},
        {"session missing", with(R"("sessionId":"s1",)", "")},
        {"session empty", with(R"("sessionId":"s1")", R"("sessionId":"")")},
        {"timestamp missing", with(R"("timestamp":"2025-06-01T12:34:56.789Z",)", "")},
        {"timestamp with blank and no zone",
         with("2025-06-01T12:34:56.789Z", "2025-06-01 12:34:56")},
        {"synthetic model", with(R"("claude-x")", R"("<synthetic>")")},
    };
    TranscriptLineParser parser;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_FALSE(parser.parse(c.line, "proj").has_value());
    }
    // The parser keeps nothing from a failed line.
    expectSameEntry(parser.parse(kBase, "proj"), baseEntry());
}

struct EntryCase {
    const char* what;
    std::string line;
    void (*change)(UsageEntry&);
};

TEST(TranscriptLineParserTest, LinesThatGiveAnEntry) {
    const EntryCase cases[] = {
        {"full line", kBase, [](UsageEntry&) {}},
        {"only output tokens",
         with(R"("input_tokens":1,"output_tokens":2,"cache_creation_input_tokens":3,)"
              R"("cache_read_input_tokens":4,)",
              R"("output_tokens":12,)"),
         [](UsageEntry& e) {
             e.usage = {0, 12, 0, 0};
         }},
        {"negative count", with(R"("input_tokens":1)", R"("input_tokens":-5)"),
         [](UsageEntry& e) { e.usage.inputTokens = 0; }},
        {"null count", with(R"("input_tokens":1)", R"("input_tokens":null)"),
         [](UsageEntry& e) { e.usage.inputTokens = 0; }},
        {"empty usage",
         with(R"("input_tokens":1,"output_tokens":2,"cache_creation_input_tokens":3,)"
              R"("cache_read_input_tokens":4,"service_tier":"standard",)"
              R"("cache_creation":{"ephemeral_5m_input_tokens":3})",
              ""),
         [](UsageEntry& e) { e.usage = TokenUsage::zero(); }},
        {"side chain missing", with(R"("isSidechain":false,)", ""), [](UsageEntry&) {}},
        {"side chain null", with(R"("isSidechain":false)", R"("isSidechain":null)"),
         [](UsageEntry&) {}},
        {"side chain true", with(R"("isSidechain":false)", R"("isSidechain":true)"),
         [](UsageEntry& e) { e.isSidechain = true; }},
        {"model missing", with(R"("model":"claude-x",)", ""),
         [](UsageEntry& e) { e.model.reset(); }},
        {"request missing", with(R"("requestId":"req_1",)", ""),
         [](UsageEntry& e) { e.requestID.reset(); }},
        {"cwd missing", with(R"("cwd":"/home/me/app",)", ""),
         [](UsageEntry& e) { e.projectPath.reset(); }},
        {"cwd empty", with(R"("/home/me/app")", R"("")"),
         [](UsageEntry& e) { e.projectPath = ""; }},
        {"cwd as written", with(R"("/home/me/app")", R"("/home/me/../me/app/")"),
         [](UsageEntry& e) { e.projectPath = "/home/me/../me/app/"; }},
        {"blank session", with(R"("sessionId":"s1")", R"("sessionId":" ")"),
         [](UsageEntry& e) { e.sessionID = " "; }},
        {"timestamp without fraction", with("12:34:56.789Z", "12:34:56Z"),
         [](UsageEntry& e) { e.timestamp = 1748781296.0; }},
        {"timestamp with offset", with("12:34:56.789Z", "12:34:56.789+02:00"),
         [](UsageEntry& e) { e.timestamp = 1748781296.789 - 7200; }},
        {"keys reordered and extra keys everywhere",
         R"({"message":{"x":[1,{"y":null}],"usage":{"cache_read_input_tokens":4,"z":"q",)"
         R"("cache_creation_input_tokens":3,"output_tokens":2,"input_tokens":1},)"
         R"("model":"claude-x","id":"msg_1"},"requestId":"req_1","cwd":"/home/me/app",)"
         R"("extra":{"type":"user"},"sessionId":"s1","timestamp":"2025-06-01T12:34:56.789Z",)"
         R"("type":"assistant","isSidechain":false,"n":1.5e300})",
         [](UsageEntry&) {}},
        {"snake-case and upper-case keys", with(R"("sessionId":"s1")", R"("SESSION_ID":"s1")"),
         [](UsageEntry&) {}},
        {"keys with outer underscores do not match",
         with(R"("input_tokens":1)", R"("_input_tokens":1)"),
         [](UsageEntry& e) { e.usage.inputTokens = 0; }},
        {"later of two keys for one field",
         with(R"("sessionId":"s1")", R"("session_id":"s0","sessionId":"s1")"), [](UsageEntry&) {}},
        {"type spelled with escapes",
         with(R"("type":"assistant")", R"("type":"a\u0073sist\u0061nt")"), [](UsageEntry&) {}},
        {"blanks around the object", " \t" + kBase + " ", [](UsageEntry&) {}},
    };
    TranscriptLineParser parser;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UsageEntry expected = baseEntry();
        c.change(expected);
        expectSameEntry(parser.parse(c.line, "proj"), expected);
    }
}

TEST(TranscriptLineParserTest, PaddedLinesDecodeInPlace) {
    // The line lies inside a larger buffer followed by unrelated bytes.
    std::string buffer = kBase + "\n" + std::string(TranscriptLineParser::kPadding, '}');
    TranscriptLineParser parser;
    expectSameEntry(parser.parsePadded(std::string_view(buffer).substr(0, kBase.size()), "proj"),
                    baseEntry());
    buffer[kBase.size() - 1] = ' ';
    EXPECT_FALSE(
        parser.parsePadded(std::string_view(buffer).substr(0, kBase.size()), "proj").has_value());
}

TEST(TranscriptLineParserTest, CopiesDecodeOnTheirOwn) {
    TranscriptLineParser parser;
    TranscriptLineParser copy = parser;
    expectSameEntry(copy.parse(kBase, "proj"), baseEntry());
    expectSameEntry(parser.parse(kBase, "proj"), baseEntry());
}

TEST(TranscriptLineParserTest, LongLinesDecode) {
    // A line longer than the decoder keeps capacity for, then a short one.
    const std::string big =
        with(R"("text":"hi")", R"("text":")" + std::string(3 << 20, 'x') + "\"");
    TranscriptLineParser parser;
    expectSameEntry(parser.parse(big, "proj"), baseEntry());
    expectSameEntry(parser.parse(kBase, "proj"), baseEntry());
}

struct KeyCase {
    const char* key;
    const char* converted;
};

TEST(TranscriptLineParserTest, SnakeCaseConversion) {
    const KeyCase cases[] = {
        {"input_tokens", "inputTokens"},
        {"cache_creation_input_tokens", "cacheCreationInputTokens"},
        {"sessionId", "sessionId"},
        {"SESSION_ID", "sessionId"},
        {"sESSION_iD", "sessionId"},
        {"Type", "Type"},
        {"_input_tokens", "_inputTokens"},
        {"input_tokens__", "inputTokens__"},
        {"input__tokens", "inputTokens"},
        {"_id_", "_id_"},
        {"___", "___"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TranscriptLineParser::convertFromSnakeCase(c.key), c.converted) << c.key;
    }
}

TEST(TranscriptLineParserTest, AssistantLinePrefilter) {
    EXPECT_TRUE(TranscriptLineParser::mayBeAssistantLine(R"({"type":"assistant"})"));
    EXPECT_TRUE(TranscriptLineParser::mayBeAssistantLine(R"({"type":"\u0041\u0073"})"));
    EXPECT_TRUE(TranscriptLineParser::mayBeAssistantLine(R"({"type":"\u006E"})"));
    EXPECT_FALSE(TranscriptLineParser::mayBeAssistantLine(R"({"type":"user","t":"\u001b[0m"})"));
    EXPECT_FALSE(TranscriptLineParser::mayBeAssistantLine(R"({"type":"Assistant"})"));
    EXPECT_FALSE(TranscriptLineParser::mayBeAssistantLine(R"(\u006)"));
}

} // namespace
} // namespace meterly::history
