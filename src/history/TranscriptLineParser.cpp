#include "history/TranscriptLineParser.hpp"

#include <cstring>
#include <simdjson.h>

namespace meterly::history {

static_assert(TranscriptLineParser::kPadding >= simdjson::SIMDJSON_PADDING);

namespace {

namespace dom = simdjson::dom;

// A decoder that has parsed a line longer than this is replaced afterwards, so that one huge
// line does not keep many times its size allocated for the rest of the run.
constexpr std::size_t kRetainedCapacity = 1 << 20;

constexpr std::string_view kAssistant = "assistant";
constexpr std::string_view kSynthetic = "<synthetic>";

// How a listed key holds its value: absent (missing or null), present, or of the wrong type.
enum class Outcome { absent, present, wrongType };

Outcome readString(dom::element value, std::optional<std::string_view>& out) {
    if (value.is_null()) {
        out.reset();
        return Outcome::absent;
    }
    std::string_view text;
    if (value.get_string().get(text) != simdjson::SUCCESS) {
        return Outcome::wrongType;
    }
    out = text;
    return Outcome::present;
}

Outcome readBool(dom::element value, std::optional<bool>& out) {
    if (value.is_null()) {
        out.reset();
        return Outcome::absent;
    }
    bool flag = false;
    if (value.get_bool().get(flag) != simdjson::SUCCESS) {
        return Outcome::wrongType;
    }
    out = flag;
    return Outcome::present;
}

Outcome readObject(dom::element value, std::optional<dom::object>& out) {
    if (value.is_null()) {
        out.reset();
        return Outcome::absent;
    }
    dom::object object;
    if (value.get_object().get(object) != simdjson::SUCCESS) {
        return Outcome::wrongType;
    }
    out = object;
    return Outcome::present;
}

// A JSON integer within the signed 64-bit range; a fraction, an exponent or a larger number is
// the wrong type.
Outcome readCount(dom::element value, std::optional<std::int64_t>& out) {
    if (value.is_null()) {
        out.reset();
        return Outcome::absent;
    }
    if (value.type() != dom::element_type::INT64) {
        return Outcome::wrongType;
    }
    out = value.get_int64().value_unsafe();
    return Outcome::present;
}

// A key matches a field when it equals the field name after the snake-case conversion. Keys
// without underscores, by far the most common, are compared as they stand.
class KeyMatcher {
public:
    explicit KeyMatcher(std::string_view key) {
        if (key.find('_') == std::string_view::npos) {
            key_ = key;
        } else {
            converted_ = TranscriptLineParser::convertFromSnakeCase(key);
            key_ = converted_;
        }
    }
    std::string_view key() const { return key_; }

private:
    std::string converted_;
    std::string_view key_;
};

struct Usage {
    std::optional<std::int64_t> inputTokens;
    std::optional<std::int64_t> outputTokens;
    std::optional<std::int64_t> cacheCreationInputTokens;
    std::optional<std::int64_t> cacheReadInputTokens;
};

struct Message {
    std::optional<std::string_view> id;
    std::optional<std::string_view> model;
    std::optional<dom::object> usage;
};

struct Record {
    std::optional<std::string_view> type;
    std::optional<std::string_view> timestamp;
    std::optional<std::string_view> sessionId;
    std::optional<std::string_view> cwd;
    std::optional<bool> isSidechain;
    std::optional<std::string_view> requestId;
    std::optional<dom::object> message;
};

// Each decode function fills its shape from one object and returns false when a listed key holds
// a value of another type. When two keys name one field, the later one counts.
bool decodeUsage(dom::object object, Usage& out) {
    for (const auto field : object) {
        const KeyMatcher name(field.key);
        const std::string_view key = name.key();
        Outcome outcome = Outcome::absent;
        if (key == "inputTokens") {
            outcome = readCount(field.value, out.inputTokens);
        } else if (key == "outputTokens") {
            outcome = readCount(field.value, out.outputTokens);
        } else if (key == "cacheCreationInputTokens") {
            outcome = readCount(field.value, out.cacheCreationInputTokens);
        } else if (key == "cacheReadInputTokens") {
            outcome = readCount(field.value, out.cacheReadInputTokens);
        }
        if (outcome == Outcome::wrongType) {
            return false;
        }
    }
    return true;
}

bool decodeMessage(dom::object object, Message& out) {
    for (const auto field : object) {
        const KeyMatcher name(field.key);
        const std::string_view key = name.key();
        Outcome outcome = Outcome::absent;
        if (key == "id") {
            outcome = readString(field.value, out.id);
        } else if (key == "model") {
            outcome = readString(field.value, out.model);
        } else if (key == "usage") {
            outcome = readObject(field.value, out.usage);
        }
        if (outcome == Outcome::wrongType) {
            return false;
        }
    }
    return true;
}

bool decodeRecord(dom::object object, Record& out) {
    for (const auto field : object) {
        const KeyMatcher name(field.key);
        const std::string_view key = name.key();
        Outcome outcome = Outcome::absent;
        if (key == "type") {
            outcome = readString(field.value, out.type);
        } else if (key == "timestamp") {
            outcome = readString(field.value, out.timestamp);
        } else if (key == "sessionId") {
            outcome = readString(field.value, out.sessionId);
        } else if (key == "cwd") {
            outcome = readString(field.value, out.cwd);
        } else if (key == "isSidechain") {
            outcome = readBool(field.value, out.isSidechain);
        } else if (key == "requestId") {
            outcome = readString(field.value, out.requestId);
        } else if (key == "message") {
            outcome = readObject(field.value, out.message);
        }
        if (outcome == Outcome::wrongType) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> owned(std::optional<std::string_view> text) {
    if (!text) {
        return std::nullopt;
    }
    return std::string(*text);
}

std::int64_t positive(std::optional<std::int64_t> count) {
    return count && *count > 0 ? *count : 0;
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return (c | 0x20) - 'a' + 10;
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}
char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

} // namespace

struct TranscriptLineParser::Decoder {
    dom::parser parser;
};

TranscriptLineParser::TranscriptLineParser() : decoder_(std::make_unique<Decoder>()) {}
TranscriptLineParser::~TranscriptLineParser() = default;
TranscriptLineParser::TranscriptLineParser(const TranscriptLineParser&)
    : decoder_(std::make_unique<Decoder>()) {}
TranscriptLineParser& TranscriptLineParser::operator=(const TranscriptLineParser& other) {
    if (this != &other) {
        decoder_ = std::make_unique<Decoder>();
    }
    return *this;
}
TranscriptLineParser::TranscriptLineParser(TranscriptLineParser&&) noexcept = default;
TranscriptLineParser& TranscriptLineParser::operator=(TranscriptLineParser&&) noexcept = default;

std::string TranscriptLineParser::convertFromSnakeCase(std::string_view key) {
    const std::size_t first = key.find_first_not_of('_');
    if (first == std::string_view::npos) {
        return std::string(key);
    }
    const std::size_t last = key.find_last_not_of('_');
    const std::string_view core = key.substr(first, last - first + 1);
    if (core.find('_') == std::string_view::npos) {
        return std::string(key);
    }
    std::string result(key.substr(0, first));
    bool firstWord = true;
    std::size_t pos = 0;
    while (pos < core.size()) {
        std::size_t end = core.find('_', pos);
        if (end == std::string_view::npos) {
            end = core.size();
        }
        // Runs of underscores make empty words, which vanish.
        for (std::size_t i = pos; i < end; ++i) {
            const bool upper = !firstWord && i == pos;
            result += upper ? asciiUpper(core[i]) : asciiLower(core[i]);
        }
        if (end > pos) {
            firstWord = false;
        }
        pos = end + 1;
    }
    result += key.substr(last + 1);
    return result;
}

bool TranscriptLineParser::mayBeAssistantLine(std::string_view line) {
    if (line.find(kAssistant) != std::string_view::npos) {
        return true;
    }
    // The word could still be written with escapes such as \u0061. Only \u escapes can stand for
    // a letter; look for one that stands for a letter of the word. A false alarm costs a decode.
    std::size_t pos = 0;
    while ((pos = line.find("\\u", pos)) != std::string_view::npos) {
        if (pos + 6 <= line.size() && isHexDigit(line[pos + 2]) && isHexDigit(line[pos + 3]) &&
            isHexDigit(line[pos + 4]) && isHexDigit(line[pos + 5])) {
            const int code = hexValue(line[pos + 2]) << 12 | hexValue(line[pos + 3]) << 8 |
                             hexValue(line[pos + 4]) << 4 | hexValue(line[pos + 5]);
            if (code < 0x80 && kAssistant.find(static_cast<char>(code)) != std::string_view::npos) {
                return true;
            }
        }
        pos += 2;
    }
    return false;
}

std::optional<UsageEntry> TranscriptLineParser::parse(std::string_view line,
                                                      std::string_view projectID) {
    return decode(line, projectID, false);
}

std::optional<UsageEntry> TranscriptLineParser::parsePadded(std::string_view line,
                                                            std::string_view projectID) {
    return decode(line, projectID, true);
}

std::optional<UsageEntry> TranscriptLineParser::decode(std::string_view line,
                                                       std::string_view projectID, bool padded) {
    if (line.empty() || !mayBeAssistantLine(line)) {
        return std::nullopt;
    }
    auto entry = decodeRecordLine(line, projectID, padded);
    if (line.size() > kRetainedCapacity) {
        decoder_ = std::make_unique<Decoder>();
    }
    return entry;
}

std::optional<UsageEntry> TranscriptLineParser::decodeRecordLine(std::string_view line,
                                                                 std::string_view projectID,
                                                                 bool padded) {
    dom::element root;
    if (decoder_->parser.parse(line.data(), line.size(), !padded).get(root) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    dom::object object;
    Record record;
    if (root.get_object().get(object) != simdjson::SUCCESS || !decodeRecord(object, record)) {
        return std::nullopt;
    }
    Message message;
    Usage usage;
    if (record.message && !decodeMessage(*record.message, message)) {
        return std::nullopt;
    }
    if (message.usage && !decodeUsage(*message.usage, usage)) {
        return std::nullopt;
    }
    if (record.type != kAssistant) {
        return std::nullopt;
    }
    if (!record.message || !message.usage || !message.id || message.id->empty() ||
        !record.sessionId || record.sessionId->empty()) {
        return std::nullopt;
    }
    const auto timestamp = date(record.timestamp);
    if (!timestamp) {
        return std::nullopt;
    }
    if (message.model == kSynthetic) {
        return std::nullopt;
    }
    return UsageEntry{*timestamp,
                      std::string(*record.sessionId),
                      std::string(projectID),
                      owned(record.cwd),
                      std::string(*message.id),
                      owned(record.requestId),
                      owned(message.model),
                      record.isSidechain.value_or(false),
                      TokenUsage{positive(usage.inputTokens), positive(usage.outputTokens),
                                 positive(usage.cacheCreationInputTokens),
                                 positive(usage.cacheReadInputTokens)}};
}

std::optional<core::Date> TranscriptLineParser::date(std::optional<std::string_view> text) const {
    if (!text) {
        return std::nullopt;
    }
    if (const auto date = fractional_.date(*text)) {
        return date;
    }
    return plain_.date(*text);
}

} // namespace meterly::history
