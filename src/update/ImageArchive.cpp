#include "update/ImageArchive.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

namespace meterly::update {

namespace {

using Reader = std::unique_ptr<archive, decltype(&archive_read_free)>;
using Writer = std::unique_ptr<archive, decltype(&archive_write_free)>;

std::string errorText(archive* a, const char* fallback) {
    const char* text = archive_error_string(a);
    return text != nullptr ? text : fallback;
}

// The entry's name as a relative path inside the archive ("." and empty parts dropped, so the
// archive's own root is empty), or none when it is absolute or climbs with "..".
std::optional<std::filesystem::path> relativeName(const char* raw) {
    if (raw == nullptr || *raw == '\0') {
        return std::nullopt;
    }
    std::filesystem::path name(raw);
    if (name.is_absolute()) {
        return std::nullopt;
    }
    std::filesystem::path clean;
    for (const auto& part : name) {
        if (part == "..") {
            return std::nullopt;
        }
        if (part == "." || part.empty()) {
            continue;
        }
        clean /= part;
    }
    return clean;
}

// A symbolic link's target stays inside the archive when, read from the link's folder, it never
// climbs above the archive's root.
bool staysInside(const std::filesystem::path& link, const char* target) {
    if (target == nullptr || *target == '\0') {
        return false;
    }
    std::filesystem::path to(target);
    if (to.is_absolute()) {
        return false;
    }
    int depth = 0;
    for (const auto& part : link.parent_path()) {
        if (!part.empty() && part != ".") {
            ++depth;
        }
    }
    for (const auto& part : to) {
        if (part == "..") {
            if (--depth < 0) {
                return false;
            }
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
    }
    return true;
}

} // namespace

void ImageArchive::extract(int fd, const std::filesystem::path& folder, const Limits& limits) {
    if (::lseek(fd, 0, SEEK_SET) < 0) {
        throw ArchiveError("the image cannot be read");
    }
    Reader reader(archive_read_new(), &archive_read_free);
    Writer writer(archive_write_disk_new(), &archive_write_free);
    if (!reader || !writer) {
        throw ArchiveError("out of memory");
    }
    archive_read_support_filter_gzip(reader.get());
    archive_read_support_format_tar(reader.get());
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                     ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                     ARCHIVE_EXTRACT_NO_OVERWRITE);
    if (archive_read_open_fd(reader.get(), fd, 64 * 1024) != ARCHIVE_OK) {
        throw ArchiveError(errorText(reader.get(), "the image is not a readable archive"));
    }

    std::size_t entries = 0;
    std::uint64_t bytes = 0;
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF) {
            break;
        }
        if (status != ARCHIVE_OK) {
            throw ArchiveError(errorText(reader.get(), "the archive is damaged"));
        }
        if (++entries > limits.maxEntries) {
            throw ArchiveError("the archive holds more than " + std::to_string(limits.maxEntries) +
                               " entries");
        }
        const char* rawName = archive_entry_pathname(entry);
        const auto relative = relativeName(rawName);
        const std::string shown = rawName != nullptr ? rawName : "";
        if (!relative) {
            throw ArchiveError("the archive holds an entry outside its folder: " + shown);
        }
        if (relative->empty()) {
            if (archive_entry_filetype(entry) == AE_IFDIR) {
                continue; // the archive's own root, "./"
            }
            throw ArchiveError("the archive holds an entry without a name");
        }
        const auto& name = *relative;
        if (archive_entry_hardlink(entry) != nullptr) {
            throw ArchiveError("the archive holds a hard link: " + shown);
        }
        const auto type = archive_entry_filetype(entry);
        if (type == AE_IFLNK) {
            if (!staysInside(name, archive_entry_symlink(entry))) {
                throw ArchiveError("the archive holds a link that leads outside it: " + shown);
            }
        } else if (type == AE_IFREG) {
            const auto size = archive_entry_size(entry);
            if (size < 0 || static_cast<std::uint64_t>(size) > limits.maxBytes - bytes) {
                throw ArchiveError("the archive unpacks to more than the " +
                                   std::to_string(limits.maxBytes / (1024 * 1024)) +
                                   " MiB allowed");
            }
            archive_entry_set_perm(entry, (archive_entry_perm(entry) & 0111) != 0 ? 0755 : 0644);
        } else if (type == AE_IFDIR) {
            archive_entry_set_perm(entry, 0755);
        } else {
            throw ArchiveError("the archive holds something other than files and folders: " +
                               shown);
        }
        archive_entry_xattr_clear(entry);
        archive_entry_acl_clear(entry);
        archive_entry_set_fflags(entry, 0, 0);
        archive_entry_set_pathname(entry, (folder / name).c_str());

        if (archive_write_header(writer.get(), entry) != ARCHIVE_OK) {
            throw ArchiveError(errorText(writer.get(), "an entry cannot be written") + ": " +
                               shown);
        }
        if (type == AE_IFREG) {
            const void* block = nullptr;
            std::size_t size = 0;
            la_int64_t offset = 0;
            for (;;) {
                const int read = archive_read_data_block(reader.get(), &block, &size, &offset);
                if (read == ARCHIVE_EOF) {
                    break;
                }
                if (read != ARCHIVE_OK) {
                    throw ArchiveError(errorText(reader.get(), "the archive is damaged"));
                }
                if (size > limits.maxBytes - bytes) {
                    throw ArchiveError("the archive unpacks to more than the " +
                                       std::to_string(limits.maxBytes / (1024 * 1024)) +
                                       " MiB allowed");
                }
                bytes += size;
                if (archive_write_data_block(writer.get(), block, size, offset) != ARCHIVE_OK) {
                    throw ArchiveError(errorText(writer.get(), "a file cannot be written") + ": " +
                                       shown);
                }
            }
        }
        if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK) {
            throw ArchiveError(errorText(writer.get(), "an entry cannot be finished") + ": " +
                               shown);
        }
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK) {
        throw ArchiveError(errorText(writer.get(), "the unpacked files cannot be finished"));
    }
}

} // namespace meterly::update
