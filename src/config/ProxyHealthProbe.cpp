#include "config/ProxyHealthProbe.hpp"

#include "net/CurlGlobal.hpp"

#include <chrono>
#include <cmath>
#include <curl/curl.h>
#include <memory>
#include <thread>

namespace meterly::config {

namespace {

constexpr long requestTimeoutMilliseconds = 2000;

std::size_t discardBody(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

void sleepOnMonotonicClock(core::Seconds seconds) {
    if (seconds > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
}

} // namespace

ProxyHealthProbe::ProxyHealthProbe(std::uint16_t port, std::string host, int attempts,
                                   core::Seconds interval, Sleeper sleep)
    : port_(port), host_(std::move(host)), attempts_(attempts < 1 ? 1 : attempts),
      interval_(interval), sleep_(sleep ? std::move(sleep) : Sleeper(sleepOnMonotonicClock)) {}

std::string ProxyHealthProbe::url() const {
    return "http://" + host_ + ":" + std::to_string(port_) + std::string(healthCheckPath);
}

int ProxyHealthProbe::budgetSeconds() const {
    double total = std::round(interval_ * attempts_);
    return total < 1 ? 1 : static_cast<int>(total);
}

bool ProxyHealthProbe::answersOnce() const {
    net::CurlGlobal::initialise();
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        return false;
    }
    std::string target = url();
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, target.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, requestTimeoutMilliseconds);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    // The proxy is on this machine: a proxy named in the environment must not come between.
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
    curl_easy_setopt(handle, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, discardBody);
    if (curl_easy_perform(handle) != CURLE_OK) {
        return false;
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return status >= 200 && status <= 299;
}

bool ProxyHealthProbe::isHealthy() const {
    for (int attempt = 1; attempt <= attempts_; ++attempt) {
        if (answersOnce()) {
            return true;
        }
        if (attempt < attempts_) {
            sleep_(interval_);
        }
    }
    return false;
}

} // namespace meterly::config
