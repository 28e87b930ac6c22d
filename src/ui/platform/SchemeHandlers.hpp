#pragma once

#include "core/Environment.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace meterly::ui {

// Which installed application opens a URL scheme (such as "claude"), found the way desktops do:
// the "x-scheme-handler/<scheme>" entry of the mimeapps.list files, else a desktop entry that
// lists that type. Reads files only; run it off the main thread.
class SchemeHandlers {
public:
    // The folders searched, from the XDG variables (with their usual defaults) and the home folder.
    struct Folders {
        // Folders that may hold mimeapps.list, most important first.
        std::vector<std::filesystem::path> mimeLists;
        // "applications" folders holding desktop entries, most important first.
        std::vector<std::filesystem::path> applications;
    };

    static Folders folders(const core::EnvironmentLookup& environment,
                           const std::filesystem::path& home);

    // The desktop entry's identifier ("claude-desktop.desktop") of the handler, or none.
    static std::optional<std::string> find(std::string_view scheme, const Folders& folders);
};

} // namespace meterly::ui
