#include "config/AppVersion.hpp"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <plist/plist.h>
#include <system_error>
#include <vector>

namespace meterly::config {

namespace {

// An Info.plist is a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t maxInfoPlistSize = 4 * 1024 * 1024;

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

std::optional<std::string> shortVersionString(const std::filesystem::path& infoPlist) {
    std::error_code error;
    auto size = std::filesystem::file_size(infoPlist, error);
    if (error || size == 0 || size > maxInfoPlistSize) {
        return std::nullopt;
    }
    std::ifstream in(infoPlist, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty() || bytes.size() > maxInfoPlistSize) {
        return std::nullopt;
    }
    plist_t raw = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
    PlistPtr root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
        return std::nullopt;
    }
    plist_t item = plist_dict_get_item(root.get(), "CFBundleShortVersionString");
    if (item == nullptr || plist_get_node_type(item) != PLIST_STRING) {
        return std::nullopt;
    }
    char* value = nullptr;
    plist_get_string_val(item, &value);
    if (value == nullptr) {
        return std::nullopt;
    }
    std::string result(value);
    std::free(value);
    return result;
}

} // namespace

std::filesystem::path AppVersion::infoPlistPath(const std::filesystem::path& executablePath) {
    auto macOS = executablePath.parent_path();
    auto contents = macOS.parent_path();
    auto bundle = contents.parent_path();
    if (macOS.filename() != "MacOS" || contents.filename() != "Contents" ||
        bundle.filename() != "Meterly.app") {
        return {};
    }
    return contents / "Info.plist";
}

std::string AppVersion::current(const std::filesystem::path& executablePath) {
    auto infoPlist = infoPlistPath(executablePath);
    if (!infoPlist.empty()) {
        if (auto version = shortVersionString(infoPlist)) {
            return *version;
        }
    }
    return std::string(bundled);
}

std::string AppVersion::current() {
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::string(bundled);
    }
    return current(executable);
}

} // namespace meterly::config
