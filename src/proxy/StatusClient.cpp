#include "proxy/StatusClient.hpp"

#include "net/CurlGlobal.hpp"
#include "proxy/ProxyRoute.hpp"

#include <chrono>
#include <cmath>
#include <curl/curl.h>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>

namespace meterly::proxy {

namespace {

using Json = nlohmann::json;
using SteadyClock = std::chrono::steady_clock;

// How often a reading in progress looks at its cancellation token.
constexpr int pollSliceMilliseconds = 20;

struct Transfer {
    std::string body;
    bool tooLarge = false;
    SteadyClock::time_point lastProgress = SteadyClock::now();
};

std::size_t receiveBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    std::size_t bytes = size * count;
    transfer.lastProgress = SteadyClock::now();
    if (transfer.body.size() + bytes > StatusClient::maximumBodySize) {
        transfer.tooLarge = true;
        return 0; // aborts the transfer
    }
    transfer.body.append(data, bytes);
    return bytes;
}

std::size_t receiveHeader(char*, std::size_t size, std::size_t count, void* context) {
    static_cast<Transfer*>(context)->lastProgress = SteadyClock::now();
    return size * count;
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

StatusTransportError transportError(CURLcode code) {
    using Kind = StatusTransportError::Kind;
    Kind kind = Kind::other;
    switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
        kind = Kind::connectionFailed;
        break;
    case CURLE_OPERATION_TIMEDOUT:
        kind = Kind::timedOut;
        break;
    default:
        break;
    }
    return StatusTransportError(kind, code, curl_easy_strerror(code));
}

// A whole number in the signed 64-bit range; nullopt for anything else (booleans included).
std::optional<std::int64_t> wholeNumber(const Json& value) {
    if (value.is_number_unsigned()) {
        auto n = value.get<std::uint64_t>();
        if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(n);
    }
    if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_float()) {
        double d = value.get<double>();
        // 2^63 itself is out of range; every double below it and at least -2^63 converts.
        constexpr double limit = 9223372036854775808.0;
        if (!std::isfinite(d) || d != std::floor(d) || d >= limit || d < -limit) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

// A finite number; booleans and texts are not numbers.
std::optional<double> finiteNumber(const Json* value) {
    if (value == nullptr || !value->is_number()) {
        return std::nullopt;
    }
    double d = value->get<double>();
    if (!std::isfinite(d)) {
        return std::nullopt;
    }
    return d;
}

const Json* member(const Json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::optional<std::string> text(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (value == nullptr || !value->is_string()) {
        return std::nullopt;
    }
    return value->get<std::string>();
}

std::optional<core::LimitWindow> window(const Json* value) {
    if (value == nullptr || !value->is_object()) {
        return std::nullopt;
    }
    const Json* utilization = member(*value, "utilization");
    if (utilization == nullptr || !utilization->is_number()) {
        return std::nullopt;
    }
    auto resetAt = finiteNumber(member(*value, "resetAt"));
    if (!resetAt) {
        return std::nullopt;
    }
    return core::LimitWindow{text(*value, "status").value_or("unknown"), utilization->get<double>(),
                             *resetAt};
}

} // namespace

StatusClient::StatusClient(std::uint16_t port, std::string host, core::Seconds timeout)
    : port_(port), host_(std::move(host)), timeout_(timeout) {}

std::string StatusClient::url() const {
    return "http://" + host_ + ":" + std::to_string(port_) + std::string(statusPath);
}

std::optional<ProxyStatusReport> StatusClient::decode(std::string_view body) {
    Json document = Json::parse(body.begin(), body.end(), nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        return std::nullopt;
    }
    const Json* available = member(document, "available");
    if (available == nullptr || !available->is_boolean()) {
        return std::nullopt;
    }
    ProxyStatusReport report;
    if (const Json* seen = member(document, "requestsSeen")) {
        report.requestsSeen = wholeNumber(*seen).value_or(0);
    }
    report.lastRequestAt = finiteNumber(member(document, "lastRequestAt"));
    auto capturedAt = finiteNumber(member(document, "capturedAt"));
    if (available->get<bool>() && capturedAt) {
        core::UsageSnapshot snapshot;
        snapshot.fiveHour = window(member(document, "fiveHour"));
        snapshot.sevenDay = window(member(document, "sevenDay"));
        snapshot.representativeClaim = text(document, "representativeClaim");
        snapshot.overageStatus = text(document, "overageStatus");
        snapshot.capturedAt = *capturedAt;
        report.snapshot = std::move(snapshot);
    }
    return report;
}

ProxyStatusReport StatusClient::fetch(const core::CancellationToken* cancellation) const {
    net::CurlGlobal::initialise();
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi) {
        throw StatusTransportError(StatusTransportError::Kind::other, CURLE_FAILED_INIT,
                                   "cannot start an HTTP transfer");
    }
    Transfer transfer;
    std::string address = url();
    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    // The proxy runs on this machine: never go through a proxy from the environment.
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, receiveBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, receiveHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    curl_multi_add_handle(multi.get(), handle);

    auto idleLimit =
        std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(timeout_));
    std::optional<CURLcode> result;
    while (!result) {
        int running = 0;
        CURLMcode status = curl_multi_perform(multi.get(), &running);
        if (status != CURLM_OK) {
            curl_multi_remove_handle(multi.get(), handle);
            throw StatusTransportError(StatusTransportError::Kind::other, CURLE_FAILED_INIT,
                                       curl_multi_strerror(status));
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == handle) {
                result = message->data.result;
            }
        }
        if (result) {
            break;
        }
        if (cancellation != nullptr && cancellation->isCancelled()) {
            curl_multi_remove_handle(multi.get(), handle);
            throw StatusTransportError(StatusTransportError::Kind::cancelled,
                                       CURLE_ABORTED_BY_CALLBACK, "cancelled");
        }
        if (SteadyClock::now() - transfer.lastProgress >= idleLimit) {
            curl_multi_remove_handle(multi.get(), handle);
            throw transportError(CURLE_OPERATION_TIMEDOUT);
        }
        curl_multi_poll(multi.get(), nullptr, 0, pollSliceMilliseconds, nullptr);
    }
    long code = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
    curl_multi_remove_handle(multi.get(), handle);

    if (transfer.tooLarge) {
        throw StatusClientError();
    }
    if (*result != CURLE_OK) {
        throw transportError(*result);
    }
    if (code != 200) {
        throw StatusClientError();
    }
    auto report = decode(transfer.body);
    if (!report) {
        throw StatusClientError();
    }
    return *report;
}

} // namespace meterly::proxy
