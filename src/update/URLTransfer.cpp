#include "update/URLTransfer.hpp"

#include "net/CurlGlobal.hpp"

#include <cmath>
#include <curl/curl.h>
#include <exception>
#include <memory>
#include <optional>

namespace meterly::update {

namespace {

struct Context {
    const URLTransfer::Options& options;
    const URLTransfer::Sink& sink;
    const URLTransfer::Progress& progress;
    const TransferCancellation* cancellation;
    std::uint64_t received = 0;
    bool tooLarge = false;
    std::exception_ptr error;
};

bool cancelled(const Context& context) {
    return context.cancellation != nullptr && context.cancellation->isCancelled();
}

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

// Also the transfer's way out: returning nonzero aborts it, which a cancellation does.
int reportProgress(void* user, curl_off_t expected, curl_off_t received, curl_off_t, curl_off_t) {
    auto& context = *static_cast<Context*>(user);
    if (cancelled(context)) {
        return 1;
    }
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

std::string megabytes(std::uint64_t bytes) {
    return std::to_string(bytes / (1024 * 1024)) + " MiB";
}

// The easy handle run on a multi handle of its own, so that the wait for the network can be woken
// by a cancellation instead of lasting until the next progress report.
class Multi {
public:
    Multi(CURL* easy, TransferCancellation* cancellation)
        : multi_(curl_multi_init()), easy_(easy), cancellation_(cancellation) {
        if (multi_ == nullptr) {
            throw TransferError(TransferError::Kind::transport, "cannot start a transfer");
        }
        if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
            curl_multi_cleanup(multi_);
            throw TransferError(TransferError::Kind::transport, "cannot start a transfer");
        }
        attached_ = cancellation_ == nullptr || cancellation_->attach(multi_);
    }
    ~Multi() {
        if (cancellation_ != nullptr && attached_) {
            cancellation_->detach();
        }
        curl_multi_remove_handle(multi_, easy_);
        curl_multi_cleanup(multi_);
    }
    Multi(const Multi&) = delete;
    Multi& operator=(const Multi&) = delete;

    // Runs the transfer to its end; its result, or none when it was cancelled first.
    std::optional<CURLcode> perform() {
        if (!attached_) {
            return std::nullopt;
        }
        int running = 1;
        while (true) {
            if (curl_multi_perform(multi_, &running) != CURLM_OK) {
                return CURLE_FAILED_INIT;
            }
            if (running == 0) {
                break;
            }
            if (cancellation_ != nullptr && cancellation_->isCancelled()) {
                return std::nullopt;
            }
            if (curl_multi_poll(multi_, nullptr, 0, 1000, nullptr) != CURLM_OK) {
                return CURLE_FAILED_INIT;
            }
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
                return message->data.result;
            }
        }
        return CURLE_FAILED_INIT;
    }

private:
    CURLM* multi_;
    CURL* easy_;
    TransferCancellation* cancellation_;
    bool attached_ = false;
};

} // namespace

long URLTransfer::get(const std::string& url, const Options& options, const Sink& sink,
                      const Progress& progress, TransferCancellation* cancellation) {
    net::CurlGlobal::initialise();
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        throw TransferError(TransferError::Kind::transport, "cannot start a transfer");
    }
    Context context{options, sink, progress, cancellation, 0, false, nullptr};
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
#if LIBCURL_VERSION_NUM >= 0x075700
    // A transfer cancelled while a name is still being looked up leaves the lookup's thread to end
    // on its own instead of waiting for the name server.
    curl_easy_setopt(handle, CURLOPT_QUICK_EXIT, 1L);
#endif

    const auto result = Multi(handle, cancellation).perform();
    if (!result || (*result == CURLE_ABORTED_BY_CALLBACK && !context.error)) {
        throw TransferError(TransferError::Kind::cancelled, cancelledMessage);
    }
    if (context.error) {
        std::rethrow_exception(context.error);
    }
    if (context.tooLarge || *result == CURLE_FILESIZE_EXCEEDED) {
        throw TransferError(TransferError::Kind::tooLarge, "The response is larger than the " +
                                                               megabytes(options.maxBytes) +
                                                               " allowed.");
    }
    if (*result != CURLE_OK) {
        std::string text = message[0] != '\0' ? message : curl_easy_strerror(*result);
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
