#pragma once

#include "core/Time.hpp"
#include "history/ScanSummary.hpp"
#include "history/TranscriptFileCursor.hpp"
#include "history/TranscriptLineParser.hpp"
#include "history/UsageEntry.hpp"
#include "history/WorkerPool.hpp"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace meterly::history {

// Finds Claude Code's transcript files below the projects root and reads what is new in each:
// one cursor per file, kept from scan to scan. The entries of a scan come in the order of the
// files' paths and, within a file, in line order, however many files are read side by side.
//
// A scanner is used from one thread at a time.
class TranscriptScanner {
public:
    struct DiscoveredFile {
        // The file's location below the standardised root.
        std::filesystem::path url;
        // Name of the first folder below the root on the way to the file.
        std::string projectID;

        friend bool operator==(const DiscoveredFile&, const DiscoveredFile&) = default;
    };

    struct ScanResult {
        std::vector<UsageEntry> entries;
        ScanSummary summary;
    };

    // Takes the entries of one file's read; it may move them away.
    using EntrySink = std::function<void(std::vector<UsageEntry>& entries)>;

    // Files are read by up to `workers` threads at once (the caller's thread among them).
    explicit TranscriptScanner(const std::filesystem::path& root,
                               std::size_t workers = defaultWorkers());

    // Reads what is new in every transcript file. Never throws for anything the files or the
    // file system do: failures become counters of the summary.
    ScanResult scan();

    // The same, handing the entries to `sink` file by file, in path order, on the calling
    // thread, a few hundred files at a time, so that the entries of a whole tree are never held
    // at once.
    ScanSummary scan(const EntrySink& sink);

    // The newest entry time read from the files found by the last scan (each since its first
    // byte); none when they hold no entry. Files that are gone no longer count.
    std::optional<core::Date> newestEntry() const;

    // The transcript files below the root, sorted by path: regular files named "*.jsonl" at
    // least one folder deep, outside folders and files whose names begin with a full stop. A
    // missing root gives none; unreadable folders are passed over.
    std::vector<DiscoveredFile> discover() const;

    // The project folder below `root` that holds `file`, or none when the file is not at least
    // one folder below the root.
    static std::optional<std::string> projectID(const std::filesystem::path& file,
                                                const std::filesystem::path& root);

    // The root with "." and ".." components taken out (links are not resolved).
    static std::filesystem::path standardize(const std::filesystem::path& path);

    const std::filesystem::path& root() const { return root_; }
    std::size_t cursorCount() const { return cursors_.size(); }

    static std::size_t defaultWorkers();

private:
    std::filesystem::path root_;
    // One parser per worker: a parser decodes one line at a time.
    std::vector<TranscriptLineParser> parsers_;
    // One read buffer per worker, given back after every scan.
    std::vector<ReadBuffer> buffers_;
    std::unordered_map<std::string, std::unique_ptr<TranscriptFileCursor>> cursors_;
    // The newest entry time read from each file that has a cursor and has given an entry.
    std::unordered_map<std::string, core::Date> newest_;
    std::unique_ptr<WorkerPool> pool_;
};

} // namespace meterly::history
