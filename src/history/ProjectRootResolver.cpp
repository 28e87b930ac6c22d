#include "history/ProjectRootResolver.hpp"

#include "core/AsciiText.hpp"
#include "core/FileDescriptor.hpp"
#include "core/UTF8.hpp"
#include "history/TranscriptScanner.hpp"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace meterly::history {

namespace fs = std::filesystem;

namespace {

// Absolute, standardised and with every link that exists resolved. A path that does not exist
// keeps its missing tail as written.
fs::path resolvedLocation(const fs::path& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    if (error) {
        absolute = path;
    }
    fs::path normal = TranscriptScanner::standardize(absolute);
    fs::path resolved = fs::weakly_canonical(normal, error);
    if (error) {
        return normal;
    }
    return TranscriptScanner::standardize(resolved);
}

// The contents of a regular file of at most `limit` bytes. Anything else (a folder, a FIFO, a
// device, a longer file) gives none, and opening never blocks.
std::optional<std::string> readSmallRegularFile(const fs::path& path, std::size_t limit) {
    core::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    std::string contents;
    char buffer[8192];
    while (true) {
        ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        contents.append(buffer, static_cast<std::size_t>(count));
        if (contents.size() > limit) {
            return std::nullopt;
        }
    }
    return contents;
}

} // namespace

ProjectRootResolver::ProjectRootResolver(fs::path homeFolder)
    : homeFolder_(homeFolder.empty() ? fs::path() : resolvedLocation(homeFolder)) {}

std::string ProjectRootResolver::root(const std::string& path) {
    if (path.empty()) {
        return path;
    }
    if (auto found = cache_.find(path); found != cache_.end()) {
        return found->second;
    }
    std::string result = resolve(path);
    cache_.emplace(path, result);
    return result;
}

std::string ProjectRootResolver::resolve(const std::string& path) const {
    const fs::path start = resolvedLocation(path);
    for (fs::path folder = start; folder.has_relative_path(); folder = folder.parent_path()) {
        if (!homeFolder_.empty() && folder == homeFolder_) {
            continue;
        }
        const fs::path git = folder / ".git";
        struct stat status {};
        if (::stat(git.c_str(), &status) != 0) {
            continue;
        }
        if (S_ISDIR(status.st_mode)) {
            return folder.string();
        }
        if (auto main = mainRepository(git)) {
            return *main;
        }
        return folder.string();
    }
    return start.string();
}

std::optional<std::string> ProjectRootResolver::mainRepository(const fs::path& gitFile) {
    auto contents = readSmallRegularFile(gitFile, maxGitFileBytes);
    if (!contents || !core::utf8::isValid(*contents)) {
        return std::nullopt;
    }
    constexpr std::string_view prefix = "gitdir:";
    std::string_view text = core::ascii::trimmed(*contents, core::ascii::isSpace);
    if (!text.starts_with(prefix)) {
        return std::nullopt;
    }
    std::string_view rest = core::ascii::trimmed(text.substr(prefix.size()), core::ascii::isBlank);
    if (rest.empty() || rest.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    fs::path target{std::string(rest)};
    if (!rest.starts_with('/')) {
        target = gitFile.parent_path() / target;
    }
    target = TranscriptScanner::standardize(target);
    const fs::path worktrees = target.parent_path();
    const fs::path gitFolder = worktrees.parent_path();
    if (worktrees.filename() != "worktrees" || gitFolder.filename() != ".git") {
        return std::nullopt;
    }
    const fs::path main = gitFolder.parent_path();
    std::error_code error;
    if (!fs::is_directory(main, error)) {
        return std::nullopt;
    }
    fs::path resolved = fs::canonical(main, error);
    if (error) {
        return std::nullopt;
    }
    return resolved.string();
}

} // namespace meterly::history
