#include "update/SHA256Digest.hpp"

#include "core/FileDescriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace meterly::update {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

std::string SHA256Digest::ofFile(const std::filesystem::path& file) {
    core::FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        fail("cannot open " + file.string());
    }
    return ofDescriptor(fd.get());
}

std::string SHA256Digest::ofDescriptor(int fd) {
    if (::lseek(fd, 0, SEEK_SET) < 0) {
        fail("cannot read the file");
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 is not available");
    }
    std::vector<unsigned char> buffer(readSize);
    for (;;) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot read the file");
        }
        if (n == 0) {
            break;
        }
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(n));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(hex[digest[i] >> 4]);
        text.push_back(hex[digest[i] & 0x0f]);
    }
    return text;
}

std::string SHA256Digest::normalised(std::string_view text) {
    if (text.size() != 64) {
        return {};
    }
    std::string lower;
    lower.reserve(64);
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            lower.push_back(c);
        } else if (c >= 'a' && c <= 'f') {
            lower.push_back(c);
        } else if (c >= 'A' && c <= 'F') {
            lower.push_back(static_cast<char>(c - 'A' + 'a'));
        } else {
            return {};
        }
    }
    return lower;
}

} // namespace meterly::update
