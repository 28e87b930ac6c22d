#include "config/AppVersion.hpp"

#include "config/InfoPlist.hpp"

#include <optional>
#include <system_error>

namespace meterly::config {

namespace {

std::optional<std::string> shortVersionString(const std::filesystem::path& infoPlist) {
    auto plist = InfoPlist::read(infoPlist);
    return plist ? plist->string("CFBundleShortVersionString") : std::nullopt;
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
