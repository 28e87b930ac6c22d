#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace meterly::update {

// SHA-256 of a file as 64 lower-case hexadecimal digits, read in pieces of at most 1 MiB so that
// an image is never held in memory whole. Errors opening or reading throw std::system_error.
class SHA256Digest {
public:
    SHA256Digest() = delete;

    static constexpr std::size_t readSize = 1024 * 1024;

    static std::string ofFile(const std::filesystem::path& file);
    // Reads `fd` from its start to its end; the offset is left at the end.
    static std::string ofDescriptor(int fd);

    // `text` lower-cased when it is exactly 64 hexadecimal digits; empty otherwise.
    static std::string normalised(std::string_view text);
};

} // namespace meterly::update
