#include "update/DownloadFolder.hpp"

#include <fstream>
#include <sstream>
#include <system_error>

namespace meterly::update {

namespace {

bool isFolder(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

std::string trimmed(std::string_view text) {
    auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) {
        return {};
    }
    auto end = text.find_last_not_of(" \t\r");
    return std::string(text.substr(begin, end - begin + 1));
}

} // namespace

std::optional<std::filesystem::path>
DownloadFolder::fromUserDirs(std::string_view text, const std::filesystem::path& home) {
    std::optional<std::filesystem::path> found;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        auto entry = trimmed(line);
        static constexpr std::string_view key = "XDG_DOWNLOAD_DIR=";
        if (!entry.starts_with(key)) {
            continue;
        }
        auto value = std::string_view(entry).substr(key.size());
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
            continue;
        }
        value = value.substr(1, value.size() - 2);
        std::filesystem::path path;
        if (value == "$HOME") {
            path = home;
        } else if (value.starts_with("$HOME/")) {
            path = home / std::filesystem::path(value.substr(6));
        } else if (value.starts_with("/")) {
            path = std::filesystem::path(value);
        } else {
            continue;
        }
        path = path.lexically_normal();
        if (path.has_filename() == false && path.has_parent_path() && path != path.root_path()) {
            path = path.parent_path();
        }
        found = path; // the last assignment wins, as in a shell
    }
    if (found && *found == home.lexically_normal()) {
        return std::nullopt;
    }
    return found;
}

std::filesystem::path DownloadFolder::standard(const std::filesystem::path& home,
                                               const core::EnvironmentLookup& environment) {
    std::filesystem::path config = home / ".config";
    if (auto value = environment("XDG_CONFIG_HOME"); value && value->starts_with("/")) {
        config = *value;
    }
    std::ifstream file(config / "user-dirs.dirs");
    if (file) {
        std::stringstream text;
        text << file.rdbuf();
        if (auto folder = fromUserDirs(text.str(), home); folder && isFolder(*folder)) {
            return *folder;
        }
    }
    if (isFolder(home / "Downloads")) {
        return home / "Downloads";
    }
    if (auto value = environment("TMPDIR"); value && value->starts_with("/") && isFolder(*value)) {
        return *value;
    }
    return "/tmp";
}

} // namespace meterly::update
