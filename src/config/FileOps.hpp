#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// File operations behind the settings-file edits. Every failure throws std::system_error with
// the errno of the failing call, so callers can report the system's own description.
namespace meterly::config::fileops {

// Whether something exists at the path, following symbolic links (a dangling link is nothing).
bool exists(const std::filesystem::path& path);

// The permission bits (including set-id and sticky bits) of the file the path leads to.
std::optional<mode_t> permissions(const std::filesystem::path& path);

// The whole contents of a regular file, following links.
std::string readAll(const std::filesystem::path& path);

// The file that writing to `path` should replace: `path` itself, or, when it is a symbolic link,
// the file at the end of its chain of links (which need not exist yet).
std::filesystem::path writeTarget(const std::filesystem::path& path);

// Replaces the file at `path` (through its links) with `bytes`: a temporary file beside the
// target gets the mode first, then the bytes, is flushed to disk and renamed over the target.
// Readers see the old file or the new one, never a part, and never with a wider mode.
void writeAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode);

// Copies the contents and mode of `from` (through its links) to a new file `to`, never replacing
// anything at `to`. The copy appears whole or not at all.
void copyExclusively(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace meterly::config::fileops
