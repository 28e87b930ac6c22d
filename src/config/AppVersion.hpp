#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace meterly::config {

// The program's version: the one compiled in, and the one the running application bundle
// declares. The bundle is a folder "Meterly.app" holding "Contents/MacOS/meterly" and
// "Contents/Info.plist".
struct AppVersion {
    static constexpr std::string_view bundled = "1.0.7";

    // "CFBundleShortVersionString" of the bundle around `executablePath`, read on every call;
    // `bundled` outside a bundle, or when the key is missing or not a string.
    static std::string current(const std::filesystem::path& executablePath);

    // The same for the running executable (/proc/self/exe, resolved).
    static std::string current();

    // The Info.plist of the bundle that holds `executablePath`, or an empty path when the
    // executable does not sit in Meterly.app/Contents/MacOS.
    static std::filesystem::path infoPlistPath(const std::filesystem::path& executablePath);
};

} // namespace meterly::config
