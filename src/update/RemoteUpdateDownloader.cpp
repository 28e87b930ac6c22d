#include "update/RemoteUpdateDownloader.hpp"

#include "core/FileDescriptor.hpp"
#include "update/SHA256Digest.hpp"
#include "update/UpdateDownloadError.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace meterly::update {

namespace {

// A partly written download beside its destination, removed unless it is kept.
class PartialFile {
public:
    explicit PartialFile(const std::filesystem::path& destination) {
        std::error_code ignored;
        std::filesystem::create_directories(destination.parent_path(), ignored);
        std::string pattern =
            (destination.parent_path() / ("." + destination.filename().string() + ".part-XXXXXX"))
                .string();
        int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) {
            throw std::system_error(errno, std::generic_category(),
                                    "cannot create a file in " +
                                        destination.parent_path().string());
        }
        fd_ = fd;
        path_ = pattern;
    }
    ~PartialFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (!kept_) {
            ::unlink(path_.c_str());
        }
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    int fd() const { return fd_; }

    void write(const char* data, std::size_t size) {
        while (size > 0) {
            ssize_t n = ::write(fd_, data, size);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throw std::system_error(errno, std::generic_category(), "cannot write " + path_);
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
    }

    // Flushes the file and renames it over `destination` in one step.
    void moveTo(const std::filesystem::path& destination) {
        if (::fsync(fd_) != 0 || ::close(std::exchange(fd_, -1)) != 0 ||
            ::rename(path_.c_str(), destination.c_str()) != 0) {
            throw std::system_error(errno, std::generic_category(),
                                    "cannot move the download to " + destination.string());
        }
        kept_ = true;
    }

private:
    int fd_ = -1;
    std::string path_;
    bool kept_ = false;
};

} // namespace

RemoteUpdateDownloader::RemoteUpdateDownloader(state::MainExecutor& main,
                                               std::filesystem::path directory,
                                               URLTransfer::Options options)
    : directory_(std::move(directory)), options_(std::move(options)), worker_(main) {
    if (options_.maxBytes == 0 || options_.maxBytes > maxImageSize) {
        options_.maxBytes = maxImageSize;
    }
}

RemoteUpdateDownloader::~RemoteUpdateDownloader() {
    cancellation_.cancel();
}

std::string RemoteUpdateDownloader::filename(std::string_view version) {
    std::string kept;
    for (char c : version) {
        if ((c >= '0' && c <= '9') || c == '.') {
            kept.push_back(c);
            if (kept.size() == 16) {
                break;
            }
        }
    }
    if (kept.empty()) {
        kept = "update";
    }
    return "Meterly-" + kept + ".tar.gz";
}

void RemoteUpdateDownloader::download(const UpdateInfo& info, Progress onProgress, Done done) {
    worker_.run(
        [this, info, onProgress = std::move(onProgress)] { return downloadNow(info, onProgress); },
        std::move(done));
}

std::filesystem::path RemoteUpdateDownloader::downloadNow(const UpdateInfo& info,
                                                          const Progress& onProgress) const {
    const std::string expected = SHA256Digest::normalised(info.sha256.value_or(""));
    if (expected.empty()) {
        throw UpdateDownloadError(UpdateDownloadError::Kind::digestMissing);
    }
    const auto destination = directory_ / filename(info.latestVersion);
    // A transfer reports the same count many times over; only a fraction that moved on, by at
    // least half a per cent or to the end, is passed on.
    double last = -1;
    auto report = [&onProgress, &last](double fraction) {
        if (onProgress && (fraction >= last + 0.005 || (fraction == 1.0 && last < 1.0))) {
            last = fraction;
            onProgress(fraction);
        }
    };

    try {
        if (SHA256Digest::ofFile(destination) == expected) {
            report(1);
            return destination;
        }
    } catch (const std::exception&) {
        // Missing or unreadable: downloaded afresh below.
    }

    PartialFile partial(destination);
    const long status = URLTransfer::get(
        info.downloadURL, options_,
        [&partial](const char* data, std::size_t size) { partial.write(data, size); },
        [&report](std::uint64_t received, std::uint64_t expectedTotal) {
            if (expectedTotal > 0) {
                report(std::min(1.0, static_cast<double>(received) /
                                         static_cast<double>(expectedTotal)));
            }
        },
        &cancellation_);
    if (status != 200) {
        throw UpdateDownloadError(UpdateDownloadError::Kind::unreachable);
    }
    if (SHA256Digest::ofDescriptor(partial.fd()) != expected) {
        throw UpdateDownloadError(UpdateDownloadError::Kind::digestMismatch);
    }
    partial.moveTo(destination);
    report(1);
    return destination;
}

} // namespace meterly::update
