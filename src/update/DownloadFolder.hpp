#pragma once

#include "core/Environment.hpp"

#include <filesystem>

namespace meterly::update {

// The folder that downloaded images go to: the user's download folder as user-dirs.dirs names it
// (XDG_DOWNLOAD_DIR), else ~/Downloads, else the temporary folder. Only existing folders count.
class DownloadFolder {
public:
    DownloadFolder() = delete;

    static std::filesystem::path standard(const std::filesystem::path& home,
                                          const core::EnvironmentLookup& environment);

    // XDG_DOWNLOAD_DIR as written in the user-dirs.dirs text: "$HOME/..." or an absolute path, in
    // double quotes. None when the file does not name one, or names the home folder itself (the
    // way that file says a folder is not used).
    static std::optional<std::filesystem::path> fromUserDirs(std::string_view text,
                                                             const std::filesystem::path& home);
};

} // namespace meterly::update
