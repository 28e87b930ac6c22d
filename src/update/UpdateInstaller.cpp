#include "update/UpdateInstaller.hpp"

#include "config/InfoPlist.hpp"
#include "core/FileDescriptor.hpp"
#include "update/SHA256Digest.hpp"
#include "update/UpdateDownloadError.hpp"
#include "update/UpdateInstallError.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace meterly::update {

namespace {

std::string reason(int error) {
    return std::strerror(error);
}

bool isPresent(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool isWritableFolder(const std::filesystem::path& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

// Removes a folder tree when it goes out of scope; errors are ignored.
class RemovedOnExit {
public:
    explicit RemovedOnExit(std::filesystem::path path) : path_(std::move(path)) {}
    ~RemovedOnExit() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    RemovedOnExit(const RemovedOnExit&) = delete;
    RemovedOnExit& operator=(const RemovedOnExit&) = delete;

private:
    std::filesystem::path path_;
};

std::filesystem::path parentOf(const std::filesystem::path& bundle) {
    auto parent = bundle.parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

} // namespace

std::filesystem::path UpdateInstaller::previousBundlePath(const std::filesystem::path& bundle) {
    return parentOf(bundle) / (std::string(previousPrefix) + bundle.filename().string());
}

std::string UpdateInstaller::newUUID() {
    unsigned char bytes[16];
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
        ssize_t n = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        filled += static_cast<std::size_t>(n);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80); // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

std::optional<std::filesystem::path>
UpdateInstaller::application(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> apps;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().extension() == ".app" && it->is_directory(error) && !it->is_symlink(error)) {
            apps.push_back(it->path());
        }
    }
    if (apps.empty()) {
        return std::nullopt;
    }
    return *std::min_element(apps.begin(), apps.end());
}

void UpdateInstaller::verify(const std::filesystem::path& app, const std::string& bundleID,
                             const std::string& version) {
    struct stat executable {};
    if (::lstat((app / executableInBundle).c_str(), &executable) != 0 ||
        !S_ISREG(executable.st_mode) || (executable.st_mode & S_IXUSR) == 0) {
        throw UpdateInstallError::noAppInImage();
    }
    auto plist = config::InfoPlist::read(app / "Contents/Info.plist");
    if (!plist) {
        throw UpdateInstallError::noAppInImage();
    }
    auto foundID = plist->string("CFBundleIdentifier").value_or("nothing");
    if (foundID != bundleID) {
        throw UpdateInstallError::wrongBundle(bundleID, foundID);
    }
    auto foundVersion = plist->string("CFBundleShortVersionString").value_or("nothing");
    if (foundVersion != version) {
        throw UpdateInstallError::wrongVersion(version, foundVersion);
    }
}

std::filesystem::path UpdateInstaller::install(const std::filesystem::path& image,
                                               const std::filesystem::path& bundle,
                                               const std::string& bundleID,
                                               const UpdateInfo& info) {
    const auto expected = SHA256Digest::normalised(info.sha256.value_or(""));
    if (expected.empty()) {
        throw UpdateDownloadError(UpdateDownloadError::Kind::digestMissing);
    }
    core::FileDescriptor fd(::open(image.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0) {
        throw UpdateInstallError::mountFailed("cannot open " + image.string() + ": " +
                                              reason(errno));
    }
    std::string digest;
    try {
        digest = SHA256Digest::ofDescriptor(fd.get());
    } catch (const std::exception& error) {
        throw UpdateInstallError::mountFailed(error.what());
    }
    if (digest != expected) {
        throw UpdateDownloadError(UpdateDownloadError::Kind::digestMismatch);
    }

    const auto parent = parentOf(bundle);
    if (!isWritableFolder(parent)) {
        throw UpdateInstallError::destinationNotWritable(parent.string());
    }
    std::error_code error;
    // No symbolic link on the way, so that the unpacker's link checks hold for the whole path.
    const auto realParent = std::filesystem::canonical(parent, error);
    if (error) {
        throw UpdateInstallError::replaceFailed(error.message());
    }
    const auto staging = realParent / (std::string(stagingPrefix) + newUUID());
    if (::mkdir(staging.c_str(), 0700) != 0) {
        throw UpdateInstallError::replaceFailed("cannot create " + staging.string() + ": " +
                                                reason(errno));
    }
    RemovedOnExit cleanup(staging);
    const auto unpacked = staging / "image";
    if (::mkdir(unpacked.c_str(), 0700) != 0) {
        throw UpdateInstallError::replaceFailed("cannot create " + unpacked.string() + ": " +
                                                reason(errno));
    }
    try {
        ImageArchive::extract(fd.get(), unpacked, options_.limits);
    } catch (const ArchiveError& failure) {
        throw UpdateInstallError::mountFailed(failure.what());
    }
    auto app = application(unpacked);
    if (!app) {
        throw UpdateInstallError::noAppInImage();
    }
    verify(*app, bundleID, info.latestVersion);

    // The new bundle takes the installed bundle's name, whatever it is called in the image.
    const auto staged = staging / bundle.filename();
    if (::rename(app->c_str(), staged.c_str()) != 0) {
        throw UpdateInstallError::replaceFailed("cannot stage the new version: " + reason(errno));
    }
    replace(bundle, staged, staging);
    return bundle;
}

bool UpdateInstaller::exchange(const std::filesystem::path& a,
                               const std::filesystem::path& b) const {
    if (!options_.useExchange) {
        errno = EINVAL;
        return false;
    }
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

void UpdateInstaller::replace(const std::filesystem::path& bundle,
                              const std::filesystem::path& staged,
                              const std::filesystem::path& staging) const {
    const auto kept = previousBundlePath(bundle);
    // An older kept copy is moved aside, not deleted, until the new bundle is in place: a swap
    // that fails puts it back.
    const auto aside = staging / "previous";
    bool movedAside = false;
    if (isPresent(kept)) {
        if (::rename(kept.c_str(), aside.c_str()) != 0) {
            throw UpdateInstallError::replaceFailed("cannot move the older kept copy aside: " +
                                                    reason(errno));
        }
        movedAside = true;
    }
    auto fail = [&](const std::string& what, int error) {
        if (movedAside) {
            ::rename(aside.c_str(), kept.c_str());
        }
        return UpdateInstallError::replaceFailed(what + ": " + reason(error));
    };

    if (exchange(staged, bundle)) {
        // The new bundle stands in place; the old one is at the staged path.
        if (::rename(staged.c_str(), kept.c_str()) != 0) {
            const int error = errno;
            exchange(staged, bundle);
            throw fail("cannot keep the previous version", error);
        }
        return;
    }
    const int exchangeError = errno;
    if (exchangeError != EINVAL && exchangeError != ENOSYS && exchangeError != ENOTSUP) {
        throw fail("cannot swap in the new version", exchangeError);
    }
    // A file system without exchange: two renames, the first undone if the second fails.
    if (::rename(bundle.c_str(), kept.c_str()) != 0) {
        throw fail("cannot keep the previous version", errno);
    }
    if (::rename(staged.c_str(), bundle.c_str()) != 0) {
        const int error = errno;
        ::rename(kept.c_str(), bundle.c_str());
        throw fail("cannot put the new version in place", error);
    }
}

void UpdateInstaller::restorePrevious(const std::filesystem::path& bundle) const {
    const auto kept = previousBundlePath(bundle);
    if (bundle.empty() || !isPresent(kept)) {
        throw UpdateInstallError::replaceFailed(UpdateInstallError::noKeptCopy);
    }
    const auto parent = parentOf(bundle);
    if (!isWritableFolder(parent)) {
        throw UpdateInstallError::destinationNotWritable(parent.string());
    }
    // The failing version leaves under a staging name first, so that a removal that stops half
    // way never leaves something that looks like a kept copy.
    const auto discarded = parent / (std::string(stagingPrefix) + newUUID());
    if (exchange(kept, bundle)) {
        if (::rename(kept.c_str(), discarded.c_str()) != 0) {
            std::error_code ignored;
            std::filesystem::remove_all(kept, ignored);
            return;
        }
    } else {
        const int exchangeError = errno;
        if (exchangeError != EINVAL && exchangeError != ENOSYS && exchangeError != ENOTSUP &&
            exchangeError != ENOENT) {
            throw UpdateInstallError::replaceFailed(reason(exchangeError));
        }
        const bool bundleExists = isPresent(bundle);
        if (bundleExists && ::rename(bundle.c_str(), discarded.c_str()) != 0) {
            throw UpdateInstallError::replaceFailed(reason(errno));
        }
        if (::rename(kept.c_str(), bundle.c_str()) != 0) {
            const int error = errno;
            if (bundleExists) {
                ::rename(discarded.c_str(), bundle.c_str());
            }
            throw UpdateInstallError::replaceFailed(reason(error));
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(discarded, ignored);
}

} // namespace meterly::update
