#include "ui/platform/SchemeHandlers.hpp"

#include "core/AsciiText.hpp"

#include <fstream>
#include <sstream>
#include <system_error>

namespace meterly::ui {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> split(const std::optional<std::string>& list, const char* fallback) {
    std::vector<fs::path> folders;
    std::stringstream items(list && !list->empty() ? *list : std::string(fallback));
    std::string item;
    while (std::getline(items, item, ':')) {
        if (!item.empty() && fs::path(item).is_absolute()) {
            folders.emplace_back(item);
        }
    }
    return folders;
}

fs::path base(const core::EnvironmentLookup& environment, std::string_view variable,
              const fs::path& fallback) {
    const auto value = environment(variable);
    if (value && !value->empty() && fs::path(*value).is_absolute()) {
        return *value;
    }
    return fallback;
}

// Desktop files are cut at spaces, tabs and the carriage returns of files written on Windows.
std::string trimmed(std::string_view text) {
    return std::string(
        core::ascii::trimmed(text, [](char c) { return core::ascii::isBlank(c) || c == '\r'; }));
}

bool isFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// The desktop entry file of identifier `id` in one of the folders ("a-b.desktop" may also sit at
// "a/b.desktop").
bool installed(const std::string& id, const std::vector<fs::path>& applications) {
    for (const auto& folder : applications) {
        if (isFile(folder / id)) {
            return true;
        }
    }
    return false;
}

// The entries listed for `type` in the sections of one mimeapps.list that choose a handler.
std::vector<std::string> listed(const fs::path& file, const std::string& type) {
    std::vector<std::string> ids;
    std::ifstream in(file);
    std::string line;
    std::string section;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            section = line;
            continue;
        }
        if (section != "[Default Applications]" && section != "[Added Associations]") {
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || trimmed(line.substr(0, eq)) != type) {
            continue;
        }
        std::stringstream values(line.substr(eq + 1));
        std::string id;
        while (std::getline(values, id, ';')) {
            id = trimmed(id);
            if (!id.empty()) {
                ids.push_back(id);
            }
        }
    }
    return ids;
}

// Whether the desktop entry at `file` lists `type` among its MimeType values (and is not hidden).
bool handles(const fs::path& file, const std::string& type) {
    std::ifstream in(file);
    std::string line;
    bool inEntry = false;
    bool lists = false;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (!line.empty() && line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) {
            continue;
        }
        if (line == "Hidden=true") {
            return false;
        }
        if (line.starts_with("MimeType=")) {
            std::stringstream values(line.substr(9));
            std::string value;
            while (std::getline(values, value, ';')) {
                lists = lists || trimmed(value) == type;
            }
        }
    }
    return lists;
}

} // namespace

SchemeHandlers::Folders SchemeHandlers::folders(const core::EnvironmentLookup& environment,
                                                const fs::path& home) {
    Folders result;
    const fs::path configHome = base(environment, "XDG_CONFIG_HOME", home / ".config");
    const fs::path dataHome = base(environment, "XDG_DATA_HOME", home / ".local/share");
    result.mimeLists.push_back(configHome);
    for (const auto& folder : split(environment("XDG_CONFIG_DIRS"), "/etc/xdg")) {
        result.mimeLists.push_back(folder);
    }
    result.applications.push_back(dataHome / "applications");
    for (const auto& folder : split(environment("XDG_DATA_DIRS"), "/usr/local/share:/usr/share")) {
        result.applications.push_back(folder / "applications");
    }
    for (const auto& folder : result.applications) {
        result.mimeLists.push_back(folder);
    }
    return result;
}

std::optional<std::string> SchemeHandlers::find(std::string_view scheme, const Folders& folders) {
    const std::string type = "x-scheme-handler/" + std::string(scheme);
    for (const auto& folder : folders.mimeLists) {
        for (const auto& id : listed(folder / "mimeapps.list", type)) {
            if (installed(id, folders.applications)) {
                return id;
            }
        }
    }
    for (const auto& folder : folders.applications) {
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            const auto& path = it->path();
            if (path.extension() == ".desktop" && isFile(path) && handles(path, type)) {
                return path.filename().string();
            }
        }
    }
    return std::nullopt;
}

} // namespace meterly::ui
