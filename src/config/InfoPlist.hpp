#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace meterly::config {

// The text entries of an application bundle's Contents/Info.plist (XML or binary).
class InfoPlist {
public:
    // A property list is a few kilobytes; a larger file is not read.
    static constexpr std::uintmax_t maxSize = 4 * 1024 * 1024;

    // None when the file is missing, unreadable, too large, not a property list, or its root is
    // not a dictionary.
    static std::optional<InfoPlist> read(const std::filesystem::path& file);

    // The entry `key` when it is text.
    std::optional<std::string> string(const std::string& key) const;

private:
    std::map<std::string, std::string> strings_;
};

} // namespace meterly::config
