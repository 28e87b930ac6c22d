// Feeds arbitrary bytes to the transcript line parser, both copied and decoded in place, and
// checks that the two ways agree and that an entry always has what an entry promises.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "history/TranscriptLineParser.hpp"

using meterly::history::TranscriptLineParser;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TranscriptLineParser parser;
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const auto copied = parser.parse(line, "project");

    std::vector<char> padded(size + TranscriptLineParser::kPadding, '"');
    if (size > 0) {
        std::memcpy(padded.data(), data, size);
    }
    const auto inPlace = parser.parsePadded(std::string_view(padded.data(), size), "project");

    if (copied.has_value() != inPlace.has_value()) {
        std::abort();
    }
    if (copied) {
        if (!(*copied == *inPlace) || copied->sessionID.empty() || copied->messageID.empty() ||
            copied->model == "<synthetic>" || copied->usage.inputTokens < 0 ||
            copied->usage.outputTokens < 0 || copied->usage.cacheCreationInputTokens < 0 ||
            copied->usage.cacheReadInputTokens < 0 ||
            !TranscriptLineParser::mayBeAssistantLine(line)) {
            std::abort();
        }
    }
    return 0;
}
