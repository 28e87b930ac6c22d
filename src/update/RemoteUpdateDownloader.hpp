#pragma once

#include "state/BlockingWorker.hpp"
#include "update/URLTransfer.hpp"
#include "update/UpdateDownloading.hpp"

#include <filesystem>
#include <string>
#include <string_view>

namespace meterly::update {

// Downloads a release's image into a folder under a fixed name and verifies its SHA-256 against
// the feed. A release without a usable digest is refused before any request; an image already in
// the folder whose digest matches is reused without one. Work runs on a worker thread.
class RemoteUpdateDownloader final : public UpdateDownloading {
public:
    // The largest image accepted.
    static constexpr std::uint64_t maxImageSize = 512ULL * 1024 * 1024;

    // `options.idleTimeout` is the transfer's idle time-out (60 s in the app); its byte cap is
    // at most maxImageSize (and maxImageSize when it is 0).
    RemoteUpdateDownloader(state::MainExecutor& main, std::filesystem::path directory,
                           URLTransfer::Options options);
    // Stops a download that is running (its partial file is removed) and returns without waiting
    // for the server; no result is delivered after it.
    ~RemoteUpdateDownloader() override;
    RemoteUpdateDownloader(const RemoteUpdateDownloader&) = delete;
    RemoteUpdateDownloader& operator=(const RemoteUpdateDownloader&) = delete;

    const std::filesystem::path& directory() const { return directory_; }

    // "Meterly-" + up to 16 of the version's digits and full stops (else "update") + ".tar.gz".
    static std::string filename(std::string_view version);

    void download(const UpdateInfo& info, Progress onProgress, Done done) override;

    // The same work, blocking the calling thread.
    std::filesystem::path downloadNow(const UpdateInfo& info, const Progress& onProgress) const;

private:
    std::filesystem::path directory_;
    URLTransfer::Options options_;
    // Cancelled on destruction, so that the worker is not held by the network.
    mutable TransferCancellation cancellation_;
    // Declared last, so destroyed first: destruction waits for the job that is running, which the
    // cancellation has ended by then.
    state::BlockingWorker worker_;
};

} // namespace meterly::update
