#include "config/SelfCheck.hpp"

#include <filesystem>
#include <system_error>
#include <vector>

namespace meterly::config {

bool SelfCheck::fileExistsOnDisk(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

namespace {

// The non-empty components of a path, as a file URL would give them ("/" and repeated or final
// slashes carry none).
std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '/') {
            ++i;
        }
        std::size_t start = i;
        while (i < path.size() && path[i] != '/') {
            ++i;
        }
        if (i > start) {
            parts.push_back(path.substr(start, i - start));
        }
    }
    return parts;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

} // namespace

std::optional<std::string> SelfCheck::bundleRoot(std::string_view executablePath) {
    auto parts = components(executablePath);
    std::size_t n = parts.size();
    if (n < 4 || parts[n - 2] != "MacOS" || parts[n - 3] != "Contents" ||
        !endsWith(parts[n - 4], ".app")) {
        return std::nullopt;
    }
    std::string root = executablePath.starts_with('/') ? "/" : "";
    for (std::size_t k = 0; k + 3 < n; ++k) {
        if (k > 0) {
            root += '/';
        }
        root += parts[k];
    }
    return root;
}

bool SelfCheck::executableMissing(const std::string& path, const FileExists& fileExists) {
    if (fileExists(path)) {
        return false;
    }
    auto root = bundleRoot(path);
    if (!root) {
        return true;
    }
    return !fileExists(*root);
}

} // namespace meterly::config
