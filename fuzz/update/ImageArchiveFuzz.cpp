// Unpacks arbitrary bytes as a release image into a fresh folder. Whatever the input, nothing is
// written outside that folder: no link inside it leads out, and its parent gains nothing else.
#include "FuzzCheck.hpp"
#include "update/ImageArchive.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace fs = std::filesystem;
    using meterly::fuzzing::check;
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
        }
    }
    fs::remove_all(parent);
    return 0;
}
