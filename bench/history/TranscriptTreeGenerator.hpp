#pragma once

#include "history/TokenUsage.hpp"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace meterly::bench {

// Settings of a synthetic tree of Claude Code transcripts.
struct TreeShape {
    std::uint64_t seed = 1;
    // Bytes of transcript to write, spread over the files (some files much larger than others).
    std::uint64_t totalBytes = 64ull << 20;
    int files = 200;
    int projects = 20;
    // Lines longer than the reader keeps in memory (9 to 10 MiB each), spread over the files.
    int oversizedLines = 0;
    // Share of lines that are cut off (not valid JSON).
    double malformedShare = 0.002;
    // Share of assistant responses written as two or three lines with one message identifier
    // (one line per content block); the other copies are the repeated lines of the tree.
    double multiLineShare = 0.3;
    // Scale of the text in lines (messages, tool input and output): below 1, more and shorter
    // lines for the same bytes.
    double textScale = 1.0;
};

// What a correct reader of the tree (or of what was appended to it) must find.
struct TreeTotals {
    std::int64_t files = 0;
    std::int64_t bytes = 0;
    // Lines that hold an assistant response with usage (repeated message identifiers included).
    std::int64_t entries = 0;
    // Non-empty lines without an entry that are not oversized.
    std::int64_t skippedLines = 0;
    std::int64_t oversizedLines = 0;
    // Distinct message identifiers among the entries, and the sum of their usage counted once
    // per identifier (copies of a message always carry the same usage).
    std::int64_t uniqueMessages = 0;
    history::TokenUsage uniqueUsage;

    TreeTotals& operator+=(const TreeTotals& other);
    friend bool operator==(const TreeTotals&, const TreeTotals&) = default;
    std::string describe() const;
};

// Writes synthetic transcript trees that look like Claude Code's: per project folder a few
// session files (and some nested agent files), with assistant responses (some written as several
// lines with one message identifier, some repeated in another file as a resumed session does),
// user prompts and large tool results, attachments, queue operations, summaries, lines that
// mention "assistant" without being one, synthetic responses, cut-off lines and oversized ones.
// The same shape and seed always give the same tree.
class TranscriptTreeGenerator {
public:
    explicit TranscriptTreeGenerator(TreeShape shape);

    // Writes a fresh tree below `root` (which must not hold transcripts yet) and returns its
    // totals; they are also written to `root`/totals.txt.
    TreeTotals generate(const std::filesystem::path& root);

    // Appends `lines` lines to each of the first `fileCount` transcript files of `root` (in path
    // order) and returns the totals of what was appended; message identifiers are new.
    TreeTotals append(const std::filesystem::path& root, int fileCount, int lines,
                      std::uint64_t seed);

    // The transcript files below `root`, sorted by path.
    static std::vector<std::filesystem::path> transcriptFiles(const std::filesystem::path& root);

private:
    TreeShape shape_;
};

} // namespace meterly::bench
