#pragma once

#include <cstdint>

namespace meterly::history {

// What one scan of the transcripts did. The scanner fills all but `newEntries` and
// `duplicateLines`, which the history store completes from what the aggregator accepted.
struct ScanSummary {
    // Files discovered in this scan.
    std::int64_t filesSeen = 0;
    // Files whose read consumed at least one byte.
    std::int64_t filesWithNewData = 0;
    // Files read again from their first byte.
    std::int64_t filesReset = 0;
    // Files that were gone when their turn came.
    std::int64_t filesVanished = 0;
    // Entries the aggregator accepted.
    std::int64_t newEntries = 0;
    // Entries read but not accepted.
    std::int64_t duplicateLines = 0;
    // Non-empty lines that gave no entry.
    std::int64_t skippedLines = 0;
    // Lines dropped for their length.
    std::int64_t oversizedLines = 0;
    // Transcript bytes consumed.
    std::int64_t bytesRead = 0;

    friend bool operator==(const ScanSummary&, const ScanSummary&) = default;
};

} // namespace meterly::history
