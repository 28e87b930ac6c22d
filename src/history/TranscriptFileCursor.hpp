#pragma once

#include "history/TranscriptLineParser.hpp"
#include "history/UsageEntry.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace meterly::history {

// What one read of a transcript file found.
struct FileReadResult {
    // Entries of this read, in line order.
    std::vector<UsageEntry> entries;
    // Non-empty lines that gave no entry.
    std::int64_t skippedLines = 0;
    // Lines dropped for being longer than the cursor keeps in memory, each counted once.
    std::int64_t oversizedLines = 0;
    // Bytes consumed by this read (after a reset, counted from 0).
    std::int64_t bytesRead = 0;
    // The file was started again from its first byte.
    bool didReset = false;
    // The file is gone (or is no longer a regular file); nothing was read.
    bool vanished = false;

    friend bool operator==(const FileReadResult&, const FileReadResult&) = default;
};

// Which file a path named when it was last read: a file deleted and created anew under the same
// name is a different file even when it gets the same inode number on another device.
struct FileIdentifier {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    friend bool operator==(const FileIdentifier&, const FileIdentifier&) = default;
};

// Reads one transcript file incrementally: every read takes only the complete lines appended
// since the last one, and starts the file again when it shrank or was replaced. The bytes of an
// unfinished last line are left for the next read. A line longer than `maxLineBytes` is dropped
// as it streams past instead of filling memory.
//
// A cursor is used by one thread at a time.
class TranscriptFileCursor {
public:
    static constexpr std::size_t kChunkSize = 262'144;
    static constexpr std::size_t kMaxLineBytes = 8'388'608;

    TranscriptFileCursor(std::filesystem::path url, std::string projectID,
                         std::size_t chunkSize = kChunkSize,
                         std::size_t maxLineBytes = kMaxLineBytes);

    // Reads what is new. Never throws: failures are folded into the result. A file that no
    // longer exists, or is no longer a regular file, is reported as vanished; any other failure
    // to open or inspect it reads nothing and leaves the cursor as it was.
    FileReadResult read(TranscriptLineParser& parser);

    const std::filesystem::path& url() const { return url_; }
    const std::string& projectID() const { return projectID_; }
    std::uint64_t offset() const { return offset_; }
    const std::optional<FileIdentifier>& fileIdentifier() const { return fileIdentifier_; }

private:
    void ingest(const char* line, std::size_t length, TranscriptLineParser& parser,
                FileReadResult& result) const;

    std::filesystem::path url_;
    std::string projectID_;
    std::uint64_t offset_ = 0;
    std::optional<FileIdentifier> fileIdentifier_;
    std::size_t chunkSize_;
    std::size_t maxLineBytes_;
};

} // namespace meterly::history
