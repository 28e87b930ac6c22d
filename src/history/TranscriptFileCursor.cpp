#include "history/TranscriptFileCursor.hpp"

#include "core/FileDescriptor.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace meterly::history {
namespace {

using core::FileDescriptor;

int openForReading(const std::filesystem::path& path) {
    // Without blocking: a FIFO put where a transcript was must not stall the scan.
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

FileIdentifier identity(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

} // namespace

ReadBuffer::~ReadBuffer() {
    release();
}

void ReadBuffer::release() {
    if (bytes_ != nullptr) {
        ::munmap(bytes_, capacity_);
        bytes_ = nullptr;
        capacity_ = 0;
    }
}

bool ReadBuffer::reserve(std::size_t used, std::size_t length, std::size_t most) {
    const std::size_t needed = used + length + TranscriptLineParser::kPadding;
    if (needed <= capacity_) {
        return true;
    }
    constexpr std::size_t kPage = 4096;
    const std::size_t wanted = std::max(needed, std::min(capacity_ * 2, most));
    const std::size_t grown = (wanted + kPage - 1) / kPage * kPage;
    void* moved = bytes_ == nullptr ? ::mmap(nullptr, grown, PROT_READ | PROT_WRITE,
                                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                    : ::mremap(bytes_, capacity_, grown, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) {
        return false;
    }
    bytes_ = static_cast<char*>(moved);
    capacity_ = grown;
    return true;
}

TranscriptFileCursor::TranscriptFileCursor(std::filesystem::path url, std::string projectID,
                                           std::size_t chunkSize, std::size_t maxLineBytes)
    : url_(std::move(url)), projectID_(std::move(projectID)),
      chunkSize_(std::max<std::size_t>(chunkSize, 1)), maxLineBytes_(maxLineBytes) {}

FileReadResult TranscriptFileCursor::read(TranscriptLineParser& parser) {
    ReadBuffer buffer;
    return read(parser, buffer);
}

FileReadResult TranscriptFileCursor::read(TranscriptLineParser& parser, ReadBuffer& buffer) {
    FileReadResult result;
    // A look at the path first: most files have not changed since the last read, and what is
    // not a regular file is never opened.
    struct stat status {};
    if (::stat(url_.c_str(), &status) != 0) {
        // Only a missing file (or folder on the way) is gone; anything else (a permission
        // problem, too many open files) may pass, so the file keeps its place for next time.
        result.vanished = errno == ENOENT || errno == ENOTDIR;
        return result;
    }
    if (!S_ISREG(status.st_mode)) {
        result.vanished = true;
        return result;
    }
    if (fileIdentifier_ && *fileIdentifier_ == identity(status) &&
        static_cast<std::uint64_t>(status.st_size) == offset_) {
        return result;
    }

    const FileDescriptor file(openForReading(url_));
    if (file.get() < 0) {
        result.vanished = errno == ENOENT || errno == ENOTDIR;
        return result;
    }
    // The path may name another file by now; what counts is the file that was opened.
    if (::fstat(file.get(), &status) != 0 || status.st_size < 0) {
        return result;
    }
    if (!S_ISREG(status.st_mode)) {
        result.vanished = true;
        return result;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    const FileIdentifier identifier = identity(status);
    if (size < offset_ || (fileIdentifier_ && *fileIdentifier_ != identifier)) {
        offset_ = 0;
        result.didReset = true;
    }
    fileIdentifier_ = identifier;
    if (offset_ >= size) {
        return result;
    }

    // `consumed` is the file position up to which every byte has been dealt with (complete
    // lines and dropped parts of oversized ones); the `pending` bytes after it are the start of
    // an unfinished line.
    std::uint64_t consumed = offset_;
    std::size_t pending = 0;
    bool dropping = false;
    for (;;) {
        // Pending bytes never exceed the line limit here, which bounds the buffer.
        if (!buffer.reserve(pending, chunkSize_,
                            maxLineBytes_ + chunkSize_ + TranscriptLineParser::kPadding)) {
            break;
        }
        char* bytes = buffer.data();
        const ssize_t got = ::pread(file.get(), bytes + pending, chunkSize_,
                                    static_cast<off_t>(consumed + pending));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        std::size_t lineStart = 0;
        std::size_t searchFrom = pending;
        pending += static_cast<std::size_t>(got);
        while (const void* found = std::memchr(bytes + searchFrom, '\n', pending - searchFrom)) {
            const std::size_t lineEnd =
                static_cast<std::size_t>(static_cast<const char*>(found) - bytes);
            consumed += lineEnd - lineStart + 1;
            if (dropping) {
                // The tail of an oversized line.
                dropping = false;
            } else {
                ingest(bytes + lineStart, lineEnd - lineStart, parser, result);
            }
            lineStart = lineEnd + 1;
            searchFrom = lineStart;
        }
        if (lineStart > 0) {
            std::memmove(bytes, bytes + lineStart, pending - lineStart);
            pending -= lineStart;
        }
        if (pending > maxLineBytes_) {
            consumed += pending;
            pending = 0;
            if (!dropping) {
                ++result.oversizedLines;
                dropping = true;
            }
        }
    }
    result.bytesRead = static_cast<std::int64_t>(consumed - offset_);
    offset_ = consumed;
    return result;
}

// The line lies in a ReadBuffer, so the decoder's padding behind it is readable.
void TranscriptFileCursor::ingest(const char* line, std::size_t length,
                                  TranscriptLineParser& parser, FileReadResult& result) const {
    if (length > 0 && line[length - 1] == '\r') {
        --length;
    }
    if (length == 0) {
        return;
    }
    const std::string_view text(line, length);
    auto entry = parser.parsePadded(text, projectID_);
    if (entry) {
        result.entries.push_back(std::move(*entry));
    } else {
        ++result.skippedLines;
    }
}

} // namespace meterly::history
