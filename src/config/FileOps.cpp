#include "config/FileOps.hpp"

#include "core/FileDescriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace meterly::config::fileops {

namespace {

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

using core::FileDescriptor;

void writeAll(int fd, std::string_view bytes, const std::string& what) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwErrno(errno, what);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void syncDirectory(const std::filesystem::path& directory) {
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Writes `bytes` with `mode` to a fresh temporary file beside `target`, flushed to disk, and
// returns its path. The caller moves it into place or removes it.
std::filesystem::path writeTemporary(const std::filesystem::path& target, std::string_view bytes,
                                     mode_t mode) {
    auto directory = target.parent_path();
    std::string pattern =
        (directory / (target.filename().string() + ".meterly-tmp-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkstemp creates the file 0600 and exclusively; the final mode is set before any byte.
    FileDescriptor fd(::mkostemp(name.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        throwErrno(errno, "create temporary file");
    }
    std::filesystem::path temporary(name.data());
    try {
        if (::fchmod(fd.get(), mode & 07777) != 0) {
            throwErrno(errno, "set permissions");
        }
        writeAll(fd.get(), bytes, "write");
        if (::fsync(fd.get()) != 0) {
            throwErrno(errno, "fsync");
        }
        if (fd.close() != 0) {
            throwErrno(errno, "close");
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    return temporary;
}

} // namespace

bool exists(const std::filesystem::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

std::optional<mode_t> permissions(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return status.st_mode & 07777;
}

std::string readAll(const std::filesystem::path& path) {
    // Non-blocking, so that a named pipe put where a file belongs cannot hang the reader.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        throwErrno(errno, "open");
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        throwErrno(errno, "stat");
    }
    if (S_ISDIR(status.st_mode)) {
        throwErrno(EISDIR, "read");
    }
    if (!S_ISREG(status.st_mode)) {
        throwErrno(EINVAL, "read");
    }
    std::string contents;
    char buffer[65536];
    while (true) {
        ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwErrno(errno, "read");
        }
        if (got == 0) {
            return contents;
        }
        contents.append(buffer, static_cast<std::size_t>(got));
    }
}

std::filesystem::path writeTarget(const std::filesystem::path& path) {
    std::filesystem::path current = path;
    // The kernel's own limit on links followed in one lookup.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status {};
        if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return current;
        }
        std::error_code error;
        auto next = std::filesystem::read_symlink(current, error);
        if (error) {
            throw std::system_error(error, "read link");
        }
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    throwErrno(ELOOP, "follow links");
}

void writeAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode) {
    auto target = writeTarget(path);
    auto temporary = writeTemporary(target, bytes, mode);
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        throwErrno(error, "rename");
    }
    syncDirectory(target.parent_path());
}

void copyExclusively(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::string bytes = readAll(from);
    mode_t mode = permissions(from).value_or(0600);
    auto temporary = writeTemporary(to, bytes, mode);
    // Publish without replacing: renameat2 where the file system supports it, a hard link
    // otherwise. Either fails with EEXIST when something is already at `to`.
    int result = ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP)) {
        result = ::link(temporary.c_str(), to.c_str());
    }
    int error = errno;
    ::unlink(temporary.c_str()); // after a successful rename there is nothing left to remove
    if (result != 0) {
        throwErrno(error, "copy");
    }
    syncDirectory(to.parent_path());
}

} // namespace meterly::config::fileops
