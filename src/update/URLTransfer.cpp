#include "update/URLTransfer.hpp"

#include <cmath>
#include <curl/curl.h>
#include <exception>
#include <memory>
#include <mutex>

namespace meterly::update {

namespace {

struct Context {
    const URLTransfer::Options& options;
    const URLTransfer::Sink& sink;
    const URLTransfer::Progress& progress;
    std::uint64_t received = 0;
    bool tooLarge = false;
    std::exception_ptr error;
};

std::size_t receive(char* data, std::size_t size, std::size_t count, void* user) {
    auto& context = *static_cast<Context*>(user);
    const std::size_t bytes = size * count;
    if (context.received + bytes > context.options.maxBytes) {
        context.tooLarge = true;
        return 0;
    }
    context.received += bytes;
    try {
        context.sink(data, bytes);
    } catch (...) {
        context.error = std::current_exception();
        return 0;
    }
    return bytes;
}

int reportProgress(void* user, curl_off_t expected, curl_off_t received, curl_off_t, curl_off_t) {
    auto& context = *static_cast<Context*>(user);
    if (context.progress && received > 0) {
        try {
            context.progress(static_cast<std::uint64_t>(received),
                             expected > 0 ? static_cast<std::uint64_t>(expected) : 0);
        } catch (...) {
            context.error = std::current_exception();
            return 1;
        }
    }
    return 0;
}

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string megabytes(std::uint64_t bytes) {
    return std::to_string(bytes / (1024 * 1024)) + " MiB";
}

} // namespace

long URLTransfer::get(const std::string& url, const Options& options, const Sink& sink,
                      const Progress& progress) {
    initialiseOnce();
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        throw TransferError(TransferError::Kind::transport, "cannot start a transfer");
    }
    Context context{options, sink, progress, 0, false, nullptr};
    char message[CURL_ERROR_SIZE] = {};
    const long idleSeconds =
        std::max(1L, static_cast<long>(std::ceil(std::max(0.0, options.idleTimeout))));

    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, idleSeconds);
    // Fewer than one byte a second over the whole idle span ends the transfer.
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, idleSeconds);
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, message);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &context);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, reportProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &context);
    if (options.certificateFile) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, options.certificateFile->c_str());
    }

    const CURLcode result = curl_easy_perform(handle);
    if (context.error) {
        std::rethrow_exception(context.error);
    }
    if (context.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
        throw TransferError(TransferError::Kind::tooLarge, "The response is larger than the " +
                                                               megabytes(options.maxBytes) +
                                                               " allowed.");
    }
    if (result != CURLE_OK) {
        std::string text = message[0] != '\0' ? message : curl_easy_strerror(result);
        throw TransferError(TransferError::Kind::transport, text);
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

URLTransfer::Options URLTransfer::options(core::Seconds idleTimeout, std::uint64_t maxBytes,
                                          const core::EnvironmentLookup& environment) {
    Options options;
    options.idleTimeout = idleTimeout;
    options.maxBytes = maxBytes;
    if (environment) {
        if (auto file = environment("SSL_CERT_FILE"); file && !file->empty()) {
            options.certificateFile = *file;
        }
    }
    return options;
}

} // namespace meterly::update
