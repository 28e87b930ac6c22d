#pragma once

#include "TranscriptTreeGenerator.hpp"
#include "history/TranscriptScanner.hpp"

#include <chrono>
#include <filesystem>
#include <string>
#include <unordered_set>
#include <vector>

namespace meterly::bench {

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What a reader found, in the terms of TreeTotals: message identifiers are counted once, the
// first copy's usage counts.
inline TreeTotals totalsOf(const history::TranscriptScanner::ScanResult& scan) {
    TreeTotals totals;
    totals.files = scan.summary.filesWithNewData;
    totals.bytes = scan.summary.bytesRead;
    totals.entries = static_cast<std::int64_t>(scan.entries.size());
    totals.skippedLines = scan.summary.skippedLines;
    totals.oversizedLines = scan.summary.oversizedLines;
    std::unordered_set<std::string> seen;
    for (const auto& entry : scan.entries) {
        if (seen.insert(entry.messageID).second) {
            ++totals.uniqueMessages;
            totals.uniqueUsage += entry.usage;
        }
    }
    return totals;
}

// The 1 GiB tree that the scan and the history benchmarks both measure.
inline TreeShape largeTreeShape() {
    TreeShape shape;
    shape.seed = 7;
    shape.totalBytes = 1ull << 30;
    shape.files = 600;
    shape.projects = 40;
    shape.oversizedLines = 4;
    return shape;
}

// A tree of as many bytes in many small files (the largest a few MiB) of shorter lines, about
// 40% of whose response lines repeat a message identifier already read: the shape on which the
// first refresh's peak memory is watched.
inline TreeShape smallFilesTreeShape() {
    TreeShape shape;
    shape.seed = 11;
    shape.totalBytes = 1ull << 30;
    shape.files = 4046;
    shape.projects = 40;
    shape.multiLineShare = 0.45;
    shape.textScale = 0.25;
    return shape;
}

// The totals the generator wrote beside the tree at `root`.
TreeTotals readTotals(const std::filesystem::path& root);

// Generates the tree at `root` once and keeps it for later runs while its shape is unchanged
// (`fresh` makes it anew all the same); the totals of the tree either way.
TreeTotals ensureTree(const std::filesystem::path& root, const TreeShape& shape, bool fresh);

} // namespace meterly::bench
