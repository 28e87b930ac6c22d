#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>

namespace meterly::update {

// The archive could not be read or holds something that is refused.
class ArchiveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Unpacks a release image (a gzip-compressed tar) with libarchive, refusing anything that could
// reach outside the target folder or give more than plain files: absolute names, "..", links that
// lead out, hard links, devices, set-id bits, owners and extended attributes. Files keep only
// whether they are executable.
class ImageArchive {
public:
    ImageArchive() = delete;

    struct Limits {
        // Unpacked bytes across all files.
        std::uint64_t maxBytes = 1024ULL * 1024 * 1024;
        std::size_t maxEntries = 20000;
    };

    // Reads the archive from the start of `fd` into `folder`, an existing empty folder named by an
    // absolute path without symbolic links. Throws ArchiveError; what was unpacked before a
    // failure stays in `folder` for the caller to remove.
    static void extract(int fd, const std::filesystem::path& folder, const Limits& limits);
};

} // namespace meterly::update
