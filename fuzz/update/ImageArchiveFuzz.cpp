// Unpacks arbitrary bytes as a release image into a fresh folder. Whatever the input, nothing is
// written outside that folder: no link inside it leads out, and its parent gains nothing else.
//
// Random bytes seldom make a gzip stream, so most inputs are taken as a plain tar as well: the
// bytes are unpacked as they come (the reader takes an uncompressed tar too), and when they are not
// already gzip they are compressed and unpacked once more, so that the mutations of a tar's headers
// also reach the path a real image takes.
#include "FuzzCheck.hpp"
#include "update/ImageArchive.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using meterly::fuzzing::check;

bool isGzip(const std::uint8_t* data, std::size_t size) {
    return size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

std::vector<std::uint8_t> gzipped(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                   &archive_write_free);
    check(writer != nullptr);
    std::vector<std::uint8_t> out(size + size / 8 + 1024);
    std::size_t used = 0;
    check(archive_write_add_filter_gzip(writer.get()) == ARCHIVE_OK);
    check(archive_write_set_format_raw(writer.get()) == ARCHIVE_OK);
    check(archive_write_set_bytes_in_last_block(writer.get(), 1) == ARCHIVE_OK);
    check(archive_write_open_memory(writer.get(), out.data(), out.size(), &used) == ARCHIVE_OK);
    archive_entry* entry = archive_entry_new();
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_size(entry, static_cast<la_int64_t>(size));
    check(archive_write_header(writer.get(), entry) == ARCHIVE_OK);
    archive_entry_free(entry);
    check(archive_write_data(writer.get(), data, size) == static_cast<la_ssize_t>(size));
    check(archive_write_close(writer.get()) == ARCHIVE_OK);
    out.resize(used);
    return out;
}

void unpackAndCheck(const std::uint8_t* data, std::size_t size) {
    char pattern[] = "/tmp/meterly-archive-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    check(made != nullptr);
    const fs::path parent = fs::canonical(made);
    const fs::path folder = parent / "unpacked";
    fs::create_directory(folder);

    const int fd = ::memfd_create("image", MFD_CLOEXEC);
    check(fd >= 0);
    check(::write(fd, data, size) == static_cast<ssize_t>(size));
    try {
        meterly::update::ImageArchive::extract(fd, folder, {1024 * 1024, 64});
    } catch (const meterly::update::ArchiveError&) {
        // A refused image is an expected outcome; the checks below hold either way.
    }
    ::close(fd);

    std::size_t beside = 0;
    for (const auto& entry : fs::directory_iterator(parent)) {
        check(entry.path() == folder);
        ++beside;
    }
    check(beside == 1);
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_symlink()) {
            const auto target = fs::read_symlink(entry.path());
            check(target.is_relative());
            const auto resolved = (entry.path().parent_path() / target).lexically_normal();
            check(resolved.string().starts_with(folder.string()));
        } else {
            check(entry.is_regular_file() || entry.is_directory());
        }
    }
    fs::remove_all(parent);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    unpackAndCheck(data, size);
    if (!isGzip(data, size)) {
        const auto compressed = gzipped(data, size);
        unpackAndCheck(compressed.data(), compressed.size());
    }
    return 0;
}
