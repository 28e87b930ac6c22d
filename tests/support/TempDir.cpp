#include "support/TempDir.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace meterly::testing {

TempDir::TempDir(std::string_view prefix) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    // Resolve links (a /tmp that is a link) so that paths compare equal to resolved ones.
    path_ = std::filesystem::canonical(buffer.data());
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::write(const std::filesystem::path& relative,
                                     std::string_view contents) const {
    auto full = path_ / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + full.string());
    }
    return full;
}

std::string TempDir::read(const std::filesystem::path& relative) const {
    auto full = relative.is_absolute() ? relative : path_ / relative;
    std::ifstream in(full, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + full.string());
    }
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace meterly::testing
