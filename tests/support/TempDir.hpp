#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace meterly::testing {

// A fresh folder under the system's temporary folder, removed with everything in it on
// destruction. Tests use it as the home folder, never the real one.
class TempDir {
public:
    explicit TempDir(std::string_view prefix = "meterly-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes `contents` to `relative` under the folder, creating the folders between.
    std::filesystem::path write(const std::filesystem::path& relative,
                                std::string_view contents) const;

    // The whole contents of `relative` under the folder (or of an absolute path).
    std::string read(const std::filesystem::path& relative) const;

private:
    std::filesystem::path path_;
};

} // namespace meterly::testing
