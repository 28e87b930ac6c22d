#include "update/RemoteUpdateChecker.hpp"

#include "update/UpdateCheckError.hpp"

#ifndef METERLY_UPDATE_FEED_URL
#define METERLY_UPDATE_FEED_URL "https://meterly.app/version.json"
#endif

namespace meterly::update {

std::string_view RemoteUpdateChecker::defaultURL() {
    return METERLY_UPDATE_FEED_URL;
}

RemoteUpdateChecker::RemoteUpdateChecker(state::MainExecutor& main, std::string url,
                                         URLTransfer::Options options)
    : url_(std::move(url)), options_(std::move(options)), worker_(main) {
    options_.maxBytes = UpdateInfo::maxDocumentSize;
}

RemoteUpdateChecker::~RemoteUpdateChecker() {
    cancellation_.cancel();
}

void RemoteUpdateChecker::fetchLatest(Done done) {
    worker_.run([this] { return fetchLatestNow(); }, std::move(done));
}

UpdateInfo RemoteUpdateChecker::fetchLatestNow() const {
    std::string body;
    long status = 0;
    try {
        status = URLTransfer::get(
            url_, options_,
            [&body](const char* data, std::size_t size) { body.append(data, size); }, {},
            &cancellation_);
    } catch (const TransferError& error) {
        if (error.kind() == TransferError::Kind::tooLarge) {
            throw UpdateCheckError();
        }
        throw;
    }
    if (status != 200) {
        throw UpdateCheckError();
    }
    return UpdateInfo::decode(body);
}

} // namespace meterly::update
