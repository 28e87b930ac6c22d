#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace meterly::testing {

// One entry of a test archive, written as given (hostile names and links included).
struct ArchiveEntry {
    enum class Type { file, folder, symlink, hardlink, fifo };
    std::string name;
    Type type = Type::file;
    std::string contents;
    unsigned mode = 0644;
    // The link's target, for links.
    std::string target;
};

// A gzip-compressed tar of the entries, as its bytes.
std::string makeTarGz(const std::vector<ArchiveEntry>& entries);

// The Info.plist of a bundle; a key that is none is left out.
std::string infoPlist(const std::optional<std::string>& identifier,
                      const std::optional<std::string>& version);

// The entries of a release image: <app>/Contents/Info.plist and, unless `executable` is none, an
// executable <app>/Contents/MacOS/meterly with those contents.
std::vector<ArchiveEntry> bundleEntries(const std::string& app,
                                        const std::optional<std::string>& identifier,
                                        const std::optional<std::string>& version,
                                        const std::optional<std::string>& executable);

// Writes a bundle folder at `bundle` (Contents/Info.plist, Contents/MacOS/meterly).
void writeBundle(const std::filesystem::path& bundle, const std::string& identifier,
                 const std::string& version, const std::string& executable);

// Every file under `root` with its contents, links as "-> target", as sorted "path: contents"
// lines, so that a whole tree can be compared before and after.
std::vector<std::string> treeOf(const std::filesystem::path& root);

} // namespace meterly::testing
