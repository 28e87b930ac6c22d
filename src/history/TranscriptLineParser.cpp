#include "history/TranscriptLineParser.hpp"

#include "core/AsciiText.hpp"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <simdjson.h>

namespace meterly::history {

static_assert(TranscriptLineParser::kPadding >= simdjson::SIMDJSON_PADDING);

namespace {

namespace dom = simdjson::dom;

// A decoder that has parsed a line longer than this is replaced afterwards, so that one huge
// line does not keep many times its size allocated for the rest of the run.
constexpr std::size_t kRetainedCapacity = 256 << 10;

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

// The word itself, or a \u escape of one of its letters, starts at `pos`.
bool candidateSpellsAssistant(std::string_view line, std::size_t pos) {
    if (line.compare(pos, kAssistant.size(), kAssistant) == 0) {
        return true;
    }
    if (pos + 6 > line.size() || line[pos] != '\\' || line[pos + 1] != 'u') {
        return false;
    }
    for (std::size_t i = pos + 2; i < pos + 6; ++i) {
        if (!core::ascii::isHexDigit(line[i])) {
            return false;
        }
    }
    using core::ascii::hexDigitValue;
    const int code = hexDigitValue(line[pos + 2]) << 12 | hexDigitValue(line[pos + 3]) << 8 |
                     hexDigitValue(line[pos + 4]) << 4 | hexDigitValue(line[pos + 5]);
    return code < 0x80 && kAssistant.find(static_cast<char>(code)) != std::string_view::npos;
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
    using core::ascii::lowered;
    using core::ascii::uppered;
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
            result += upper ? uppered(core[i]) : lowered(core[i]);
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
    // One pass looks for both the word and for \u escapes (the word may be written with escapes
    // such as \u0061; only \u escapes can stand for a letter). Candidates are positions with an
    // "a" and a "t" eight bytes later, or with a backslash and a "u" right after it.
    const char* const bytes = line.data();
    const std::size_t size = line.size();
    std::size_t pos = 0;
#if defined(__SSE2__)
    const __m128i a = _mm_set1_epi8('a');
    const __m128i t = _mm_set1_epi8('t');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i u = _mm_set1_epi8('u');
    for (; pos + 16 + kAssistant.size() - 1 <= size; pos += 16) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + pos));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + pos + 1));
        const __m128i last =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + pos + kAssistant.size() - 1));
        const __m128i word = _mm_and_si128(_mm_cmpeq_epi8(first, a), _mm_cmpeq_epi8(last, t));
        const __m128i escape =
            _mm_and_si128(_mm_cmpeq_epi8(first, backslash), _mm_cmpeq_epi8(second, u));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(word, escape)));
        while (mask != 0) {
            if (candidateSpellsAssistant(line,
                                         pos + static_cast<std::size_t>(__builtin_ctz(mask)))) {
                return true;
            }
            mask &= mask - 1;
        }
    }
#endif
    for (; pos < size; ++pos) {
        if ((bytes[pos] == 'a' || bytes[pos] == '\\') && candidateSpellsAssistant(line, pos)) {
            return true;
        }
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
