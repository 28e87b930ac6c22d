#pragma once

#include "core/InternetDateParser.hpp"
#include "history/UsageEntry.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::history {

// Turns one line of a Claude Code transcript into a UsageEntry when the line records an
// assistant response with token usage, and into nothing otherwise. Every defect of a line gives
// nothing; the parser neither throws nor reports.
//
// A parser holds a JSON decoder that is reused from line to line, so one parser serves one
// thread at a time. Copies get a decoder of their own.
class TranscriptLineParser {
public:
    // Bytes that parsePadded may read past the end of its line.
    static constexpr std::size_t kPadding = 64;

    TranscriptLineParser();
    ~TranscriptLineParser();
    TranscriptLineParser(const TranscriptLineParser& other);
    TranscriptLineParser& operator=(const TranscriptLineParser& other);
    TranscriptLineParser(TranscriptLineParser&&) noexcept;
    TranscriptLineParser& operator=(TranscriptLineParser&&) noexcept;

    // One line without its line end, and the project of the file it came from.
    std::optional<UsageEntry> parse(std::string_view line, std::string_view projectID);

    // The same, for a line whose storage goes on for at least kPadding readable bytes past its
    // end (what those bytes hold does not matter); the line is decoded where it lies.
    std::optional<UsageEntry> parsePadded(std::string_view line, std::string_view projectID);

    // A key as the decoder matches it against field names: snake case becomes camel case
    // ("input_tokens" is "inputTokens"), leading and trailing underscores stay, and a key
    // without inner underscores is left alone.
    static std::string convertFromSnakeCase(std::string_view key);

    // False only when the line cannot hold the type "assistant": the word appears nowhere and
    // no escape sequence in the line could spell one of its letters.
    static bool mayBeAssistantLine(std::string_view line);

private:
    struct Decoder;

    std::optional<UsageEntry> decode(std::string_view line, std::string_view projectID,
                                     bool padded);
    std::optional<UsageEntry> decodeRecordLine(std::string_view line, std::string_view projectID,
                                               bool padded);
    std::optional<core::Date> date(std::optional<std::string_view> text) const;

    std::unique_ptr<Decoder> decoder_;
    core::InternetDateParser fractional_{core::InternetDateParser::Fraction::required};
    core::InternetDateParser plain_{core::InternetDateParser::Fraction::absent};
};

} // namespace meterly::history
