#include "proxy/ProxyFailure.hpp"

#include "proxy/ProxyError.hpp"

#include <asio/error.hpp>
#include <asio/ssl/error.hpp>
#include <cerrno>
#include <future>
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <stdexcept>

namespace meterly::proxy {
namespace {

TEST(ProxyFailureTest, FoldsProxyErrors) {
    struct Case {
        ProxyError error;
        ProxyFailure expected;
    };
    const Case cases[] = {
        {ProxyError::network(ProxyFailure::tlsFailure), ProxyFailure::tlsFailure},
        {ProxyError::malformedHead(), ProxyFailure::malformedMessage},
        {ProxyError::headTooLarge(), ProxyFailure::headTooLarge},
        {ProxyError::invalidFraming(), ProxyFailure::invalidFraming},
        {ProxyError::peerClosed(), ProxyFailure::connectionClosed},
        {ProxyError::timedOut(), ProxyFailure::timedOut},
        {ProxyError::cancelled(), ProxyFailure::cancelled},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProxyFailure::from(c.error), c.expected) << c.error;
        EXPECT_EQ(ProxyFailure::from(std::make_exception_ptr(c.error)), c.expected) << c.error;
    }
}

TEST(ProxyFailureTest, FoldsErrorCodesByTheirPosixNames) {
    struct Case {
        std::error_code code;
        ProxyFailure expected;
    };
    const auto sys = [](int value) { return std::error_code(value, std::system_category()); };
    const Case cases[] = {
        {sys(EPIPE), ProxyFailure::connectionClosed},
        {sys(ECONNRESET), ProxyFailure::connectionClosed},
        {sys(ENOTCONN), ProxyFailure::connectionClosed},
        {sys(EADDRINUSE), ProxyFailure::addressInUse},
        {sys(ENETDOWN), ProxyFailure::hostUnreachable},
        {sys(ENETUNREACH), ProxyFailure::hostUnreachable},
        {sys(EHOSTUNREACH), ProxyFailure::hostUnreachable},
        {sys(ETIMEDOUT), ProxyFailure::timedOut},
        {sys(ECONNREFUSED), ProxyFailure::connectionRefused},
        {sys(ECANCELED), ProxyFailure::cancelled},
        {sys(EACCES), ProxyFailure::other},
        {std::make_error_code(std::errc::connection_refused), ProxyFailure::connectionRefused},
        {asio::error::operation_aborted, ProxyFailure::cancelled},
        {asio::error::eof, ProxyFailure::connectionClosed},
        {asio::error::connection_reset, ProxyFailure::connectionClosed},
        {asio::error::host_not_found, ProxyFailure::dnsFailure},
        {asio::error::host_not_found_try_again, ProxyFailure::dnsFailure},
        {asio::error::service_not_found, ProxyFailure::dnsFailure},
        {asio::error::already_open, ProxyFailure::other},
        {asio::ssl::error::stream_truncated, ProxyFailure::connectionClosed},
        {asio::ssl::error::unexpected_result, ProxyFailure::tlsFailure},
        {std::error_code(
             static_cast<int>(ERR_PACK(ERR_LIB_SSL, 0, SSL_R_CERTIFICATE_VERIFY_FAILED)),
             asio::error::get_ssl_category()),
         ProxyFailure::tlsFailure},
        {std::make_error_code(std::future_errc::broken_promise), ProxyFailure::other},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProxyFailure::from(c.code), c.expected) << c.code.message();
        EXPECT_EQ(ProxyFailure::from(std::make_exception_ptr(std::system_error(c.code))),
                  c.expected)
            << c.code.message();
    }
}

TEST(ProxyFailureTest, UnknownErrorsFoldToOther) {
    EXPECT_EQ(ProxyFailure::from(std::runtime_error("boom")), ProxyFailure::other);
    EXPECT_EQ(ProxyFailure::from(std::make_exception_ptr(42)), ProxyFailure::other);
    EXPECT_EQ(ProxyFailure::from(std::exception_ptr()), ProxyFailure::other);
    EXPECT_EQ(ProxyFailure(ProxyFailure::other).explanation(), "unknown network error");
}

TEST(ProxyFailureTest, RawValuesMatchCaseNamesExactly) {
    EXPECT_EQ(ProxyFailure::fromRawValue("timedOut"), ProxyFailure(ProxyFailure::timedOut));
    EXPECT_EQ(ProxyFailure::fromRawValue("addressInUse"), ProxyFailure(ProxyFailure::addressInUse));
    EXPECT_EQ(ProxyFailure::fromRawValue("TimedOut"), std::nullopt);
    EXPECT_EQ(ProxyFailure::fromRawValue("timed out"), std::nullopt);
    EXPECT_EQ(ProxyFailure::fromRawValue(""), std::nullopt);
    for (int i = ProxyFailure::connectionRefused; i <= ProxyFailure::other; ++i) {
        const ProxyFailure failure(static_cast<ProxyFailure::Kind>(i));
        EXPECT_EQ(ProxyFailure::fromRawValue(failure.description()), failure);
    }
}

} // namespace
} // namespace meterly::proxy
