#pragma once

#include "state/BlockingWorker.hpp"
#include "update/URLTransfer.hpp"
#include "update/UpdateBackend.hpp"

#include <string>
#include <string_view>

namespace meterly::update {

// The version feed over HTTP(S): one GET on a worker thread, status 200 required, the body decoded
// as an UpdateInfo. Transport failures pass unchanged (TransferError); anything else that is not a
// feed is UpdateCheckError. A body over 1 MiB is refused.
class RemoteUpdateChecker final : public UpdateBackend {
public:
    // The maker's feed, fixed when the program is built.
    static std::string_view defaultURL();
    // The address the app asks: always defaultURL(); nothing overrides it at run time.
    static std::string_view resolvedURL() { return defaultURL(); }

    // `options.idleTimeout` is the request's time-out; its byte cap is set to the feed's.
    RemoteUpdateChecker(state::MainExecutor& main, std::string url, URLTransfer::Options options);
    // Stops a request that is running without waiting for the server; no result is delivered
    // after it.
    ~RemoteUpdateChecker() override;
    RemoteUpdateChecker(const RemoteUpdateChecker&) = delete;
    RemoteUpdateChecker& operator=(const RemoteUpdateChecker&) = delete;

    const std::string& url() const { return url_; }

    void fetchLatest(Done done) override;

    // The same request, blocking the calling thread.
    UpdateInfo fetchLatestNow() const;

private:
    std::string url_;
    URLTransfer::Options options_;
    // Cancelled on destruction, so that the worker is not held by the network.
    mutable TransferCancellation cancellation_;
    // Declared last, so destroyed first: destruction waits for the job that is running, which the
    // cancellation has ended by then.
    state::BlockingWorker worker_;
};

} // namespace meterly::update
