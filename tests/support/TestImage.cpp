#include "support/TestImage.hpp"

#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace meterly::testing {

namespace {

la_ssize_t appendBytes(archive*, void* user, const void* data, std::size_t size) {
    static_cast<std::string*>(user)->append(static_cast<const char*>(data), size);
    return static_cast<la_ssize_t>(size);
}

} // namespace

std::string makeTarGz(const std::vector<ArchiveEntry>& entries) {
    std::string bytes;
    std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                   &archive_write_free);
    archive_write_set_format_pax_restricted(writer.get());
    archive_write_add_filter_gzip(writer.get());
    if (archive_write_open(writer.get(), &bytes, nullptr, appendBytes, nullptr) != ARCHIVE_OK) {
        throw std::runtime_error("cannot open the test archive");
    }
    for (const auto& item : entries) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                            &archive_entry_free);
        archive_entry_set_pathname(entry.get(), item.name.c_str());
        archive_entry_set_perm(entry.get(), item.mode);
        switch (item.type) {
        case ArchiveEntry::Type::file:
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_size(entry.get(), static_cast<la_int64_t>(item.contents.size()));
            break;
        case ArchiveEntry::Type::folder:
            archive_entry_set_filetype(entry.get(), AE_IFDIR);
            break;
        case ArchiveEntry::Type::symlink:
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_symlink(entry.get(), item.target.c_str());
            break;
        case ArchiveEntry::Type::hardlink:
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_hardlink(entry.get(), item.target.c_str());
            break;
        case ArchiveEntry::Type::fifo:
            archive_entry_set_filetype(entry.get(), AE_IFIFO);
            break;
        }
        archive_write_header(writer.get(), entry.get());
        if (item.type == ArchiveEntry::Type::file && !item.contents.empty()) {
            archive_write_data(writer.get(), item.contents.data(), item.contents.size());
        }
    }
    archive_write_close(writer.get());
    return bytes;
}

std::string infoPlist(const std::optional<std::string>& identifier,
                      const std::optional<std::string>& version) {
    std::string text = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
)";
    if (identifier) {
        text += "<key>CFBundleIdentifier</key><string>" + *identifier + "</string>\n";
    }
    if (version) {
        text += "<key>CFBundleShortVersionString</key><string>" + *version + "</string>\n";
    }
    return text + "<key>CFBundleExecutable</key><string>meterly</string>\n</dict>\n</plist>\n";
}

std::vector<ArchiveEntry> bundleEntries(const std::string& app,
                                        const std::optional<std::string>& identifier,
                                        const std::optional<std::string>& version,
                                        const std::optional<std::string>& executable) {
    std::vector<ArchiveEntry> entries = {
        {app + "/", ArchiveEntry::Type::folder, "", 0755, ""},
        {app + "/Contents/", ArchiveEntry::Type::folder, "", 0755, ""},
        {app + "/Contents/Info.plist", ArchiveEntry::Type::file, infoPlist(identifier, version),
         0644, ""},
    };
    if (executable) {
        entries.push_back({app + "/Contents/MacOS/", ArchiveEntry::Type::folder, "", 0755, ""});
        entries.push_back(
            {app + "/Contents/MacOS/meterly", ArchiveEntry::Type::file, *executable, 0755, ""});
    }
    return entries;
}

void writeBundle(const std::filesystem::path& bundle, const std::string& identifier,
                 const std::string& version, const std::string& executable) {
    std::filesystem::create_directories(bundle / "Contents/MacOS");
    std::ofstream(bundle / "Contents/Info.plist") << infoPlist(identifier, version);
    std::ofstream(bundle / "Contents/MacOS/meterly") << executable;
    ::chmod((bundle / "Contents/MacOS/meterly").c_str(), 0755);
}

std::vector<std::string> treeOf(const std::filesystem::path& root) {
    std::vector<std::string> lines;
    if (!std::filesystem::exists(root)) {
        return lines;
    }
    for (auto it = std::filesystem::recursive_directory_iterator(root);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        const auto relative = std::filesystem::relative(it->path(), root).string();
        if (it->is_symlink()) {
            lines.push_back(relative + " -> " + std::filesystem::read_symlink(it->path()).string());
        } else if (it->is_regular_file()) {
            std::ifstream in(it->path(), std::ios::binary);
            std::stringstream contents;
            contents << in.rdbuf();
            lines.push_back(relative + ": " + contents.str());
        } else {
            lines.push_back(relative + "/");
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace meterly::testing
