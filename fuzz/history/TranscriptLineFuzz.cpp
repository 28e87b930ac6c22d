// Feeds arbitrary bytes to the transcript line parser, both copied and decoded in place, and
// checks that the two ways agree, that an entry always has what an entry promises, and that the
// quick check for assistant lines agrees with its plain reading.
#include "history/TranscriptLineParser.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

using meterly::history::TranscriptLineParser;

namespace {

// The plain reading of the rule the parser's quick check follows: the word appears, or a \u
// escape of one of its letters does.
bool mayBeAssistantLine(std::string_view line) {
    if (line.find("assistant") != std::string_view::npos) {
        return true;
    }
    for (std::size_t pos = line.find("\\u"); pos != std::string_view::npos;
         pos = line.find("\\u", pos + 1)) {
        if (pos + 6 > line.size()) {
            break;
        }
        char* end = nullptr;
        const std::string hex(line.substr(pos + 2, 4));
        if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            continue;
        }
        const long code = std::strtol(hex.c_str(), &end, 16);
        if (code < 0x80 &&
            std::string_view("assistant").find(static_cast<char>(code)) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TranscriptLineParser parser;
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    if (TranscriptLineParser::mayBeAssistantLine(line) != mayBeAssistantLine(line)) {
        std::abort();
    }
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
            copied->usage.cacheReadInputTokens < 0) {
            std::abort();
        }
    }
    return 0;
}
