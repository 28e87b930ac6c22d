#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::config {

// Tells whether the running executable, or the application bundle around it, is gone.
class SelfCheck {
public:
    SelfCheck() = delete;

    using FileExists = std::function<bool(const std::string& path)>;

    // The real file system's answer: something exists at `path` (a dangling link does not count).
    static bool fileExistsOnDisk(const std::string& path);

    // For ".../<Name>.app/Contents/MacOS/<executable>" the ".app" folder without a trailing
    // slash; for any other path nothing. The names compare case-sensitively.
    static std::optional<std::string> bundleRoot(std::string_view executablePath);

    // Missing when the executable does not exist and neither does its bundle folder, if it has
    // one: an executable gone from a bundle that still exists is not missing.
    static bool executableMissing(const std::string& path, const FileExists& fileExists);
};

} // namespace meterly::config
