#include "update/URLTransfer.hpp"

#include "support/HeldReply.hpp"
#include "support/LocalHTTPServer.hpp"
#include "support/LocalTLSServer.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace meterly::update {
namespace {

using namespace std::chrono_literals;
using testing::LocalHTTPServer;

URLTransfer::Options patient() {
    URLTransfer::Options options;
    options.idleTimeout = 120;
    options.maxBytes = 1024 * 1024;
    return options;
}

// Runs one transfer on a thread of its own; the error it ended with, if any.
class BackgroundTransfer {
public:
    BackgroundTransfer(std::string url, URLTransfer::Options options,
                       TransferCancellation& cancellation)
        : thread_([this, url = std::move(url), options = std::move(options), &cancellation] {
              try {
                  URLTransfer::get(
                      url, options, [](const char*, std::size_t) {}, {}, &cancellation);
              } catch (const TransferError& error) {
                  kind_ = error.kind();
                  message_ = error.what();
              }
          }) {}
    ~BackgroundTransfer() { join(); }
    void join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    std::optional<TransferError::Kind> kind() const { return kind_; }
    const std::string& message() const { return message_; }

private:
    std::optional<TransferError::Kind> kind_;
    std::string message_;
    std::thread thread_;
};

TEST(URLTransferTest, ACancellationEndsATransferWaitingOnAServerThatStalls) {
    // Plain HTTP, held before the answer; and TLS, held after the head and a first piece.
    testing::HeldReply plainStall(60s);
    testing::HeldReply secureStall(60s);
    LocalHTTPServer plain([&plainStall](const std::string&) {
        plainStall.hold();
        return LocalHTTPServer::reply("HTTP/1.1 200 OK", "late");
    });
    testing::LocalTLSServer secure(
        [&secureStall](testing::UpstreamConnection& connection, const testing::HTTPMessage&) {
            connection.write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" +
                             std::string(1000, 'x'));
            secureStall.hold();
            connection.close();
        });
    auto secureOptions = patient();
    secureOptions.certificateFile = secure.certificateFile().string();
    struct Case {
        std::string url;
        URLTransfer::Options options;
        testing::HeldReply& stall;
    };
    const Case cases[] = {
        {"http://127.0.0.1:" + std::to_string(plain.port()) + "/", patient(), plainStall},
        {"https://127.0.0.1:" + std::to_string(secure.port()) + "/", secureOptions, secureStall},
    };
    for (const auto& c : cases) {
        TransferCancellation cancellation;
        BackgroundTransfer transfer(c.url, c.options, cancellation);
        ASSERT_TRUE(c.stall.waitUntilHolding(20s)) << c.url;
        cancellation.cancel();
        transfer.join();
        EXPECT_FALSE(c.stall.ended()) << c.url << ": the transfer waited for the server";
        EXPECT_EQ(transfer.kind(), TransferError::Kind::cancelled) << c.url;
        EXPECT_EQ(transfer.message(), "The transfer was cancelled.") << c.url;
        c.stall.release();
    }
}

TEST(URLTransferTest, ACancelledTransferNeverStarts) {
    LocalHTTPServer server(
        [](const std::string&) { return LocalHTTPServer::reply("HTTP/1.1 200 OK", "body"); });
    TransferCancellation cancellation;
    cancellation.cancel();
    try {
        URLTransfer::get(
            "http://127.0.0.1:" + std::to_string(server.port()) + "/", patient(),
            [](const char*, std::size_t) {}, {}, &cancellation);
        ADD_FAILURE() << "a cancelled transfer ran";
    } catch (const TransferError& error) {
        EXPECT_EQ(error.kind(), TransferError::Kind::cancelled);
    }
    EXPECT_TRUE(server.requests().empty());

    // Without a cancellation, or with one never used, the transfer runs as before.
    TransferCancellation unused;
    std::string body;
    EXPECT_EQ(URLTransfer::get(
                  "http://127.0.0.1:" + std::to_string(server.port()) + "/", patient(),
                  [&body](const char* data, std::size_t size) { body.append(data, size); }, {},
                  &unused),
              200);
    EXPECT_EQ(body, "body");
}

} // namespace
} // namespace meterly::update
