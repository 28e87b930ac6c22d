#include "update/RemoteUpdateDownloader.hpp"

#include "support/VirtualTimeExecutor.hpp"
#include "support/HeldReply.hpp"
#include "support/LocalHTTPServer.hpp"
#include "support/LocalTLSServer.hpp"
#include "support/TempDir.hpp"
#include "update/DownloadFolder.hpp"
#include "update/SHA256Digest.hpp"
#include "update/UpdateDownloadError.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace meterly::update {
namespace {

using namespace std::chrono_literals;
using testing::LocalHTTPServer;
using testing::TempDir;

// The SHA-256 of "image bytes".
const std::string image = "image bytes";

std::string digestOf(const std::string& bytes) {
    TempDir folder;
    return SHA256Digest::ofFile(folder.write("f", bytes));
}

std::vector<std::string> filesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class RemoteUpdateDownloaderTest : public ::testing::Test {
protected:
    RemoteUpdateDownloader downloader(core::Seconds idle = 10, std::uint64_t cap = 0) {
        URLTransfer::Options options;
        options.idleTimeout = idle;
        options.maxBytes = cap;
        options.certificateFile = certificateFile;
        return RemoteUpdateDownloader(executor, folder.path() / "Downloads", options);
    }
    UpdateInfo release(std::uint16_t port, std::optional<std::string> sha,
                       const std::string& scheme = "http") {
        UpdateInfo info{"1.2.0-rc.3",
                        scheme + "://127.0.0.1:" + std::to_string(port) + "/Meterly.tar.gz"};
        info.sha256 = std::move(sha);
        return info;
    }
    // Progress values as reported, from any thread.
    UpdateDownloading::Progress recorder() {
        return [this](double value) {
            std::lock_guard lock(mutex);
            progress.push_back(value);
        };
    }
    std::vector<double> reported() {
        std::lock_guard lock(mutex);
        return progress;
    }

    state::VirtualTimeExecutor executor;
    TempDir folder;
    std::optional<std::string> certificateFile;
    std::mutex mutex;
    std::vector<double> progress;
};

TEST_F(RemoteUpdateDownloaderTest, NamesTheImageAfterTheVersionsDigits) {
    struct Case {
        const char* version;
        const char* name;
    };
    const Case cases[] = {
        {"1.0.8", "Meterly-1.0.8.tar.gz"},
        {"2.0-beta.3", "Meterly-2.0.3.tar.gz"},
        {"1.2.3-rc.10", "Meterly-1.2.3.10.tar.gz"},
        {"12345678901234567890", "Meterly-1234567890123456.tar.gz"},
        {"beta", "Meterly-update.tar.gz"},
        {"../../x", "Meterly-.....tar.gz"},
        {"", "Meterly-update.tar.gz"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RemoteUpdateDownloader::filename(c.version), c.name) << c.version;
    }
}

TEST_F(RemoteUpdateDownloaderTest, WithoutAUsableDigestNothingIsRequested) {
    LocalHTTPServer server(
        [](const std::string&) { return LocalHTTPServer::reply("HTTP/1.1 200 OK", image); });
    const std::string good = digestOf(image);
    const std::optional<std::string> digests[] = {
        std::nullopt, good.substr(1),       good + "0",
        good + "\n",  "g" + good.substr(1), std::string(64, ' '),
    };
    for (const auto& digest : digests) {
        try {
            downloader().downloadNow(release(server.port(), digest), recorder());
            ADD_FAILURE() << "downloaded with " << digest.value_or("no digest");
        } catch (const UpdateDownloadError& error) {
            EXPECT_EQ(error.kind(), UpdateDownloadError::Kind::digestMissing);
        }
    }
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(reported().empty());
}

TEST_F(RemoteUpdateDownloaderTest, DownloadsVerifiesAndThenReusesTheImage) {
    LocalHTTPServer server(
        [](const std::string&) { return LocalHTTPServer::reply("HTTP/1.1 200 OK", image); });
    std::string upper = digestOf(image);
    for (auto& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const auto destination = folder.path() / "Downloads" / "Meterly-1.2.0.3.tar.gz";

    std::optional<state::Outcome<std::filesystem::path>> result;
    auto remote = downloader();
    remote.download(release(server.port(), upper), recorder(),
                    [&result](state::Outcome<std::filesystem::path> outcome) { result = outcome; });
    ASSERT_TRUE(executor.runUntil([&result] { return result.has_value(); }));
    EXPECT_EQ(result->get(), destination);
    EXPECT_EQ(folder.read(destination), image);
    EXPECT_EQ(reported().back(), 1.0);
    EXPECT_EQ(filesIn(destination.parent_path()),
              std::vector<std::string>{"Meterly-1.2.0.3.tar.gz"});

    // The same release again: no request, one report of 1.
    progress.clear();
    EXPECT_EQ(remote.downloadNow(release(server.port(), upper), recorder()), destination);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(reported(), std::vector<double>{1.0});

    // Another file under that name is downloaded over.
    folder.write(destination, "stale");
    EXPECT_EQ(remote.downloadNow(release(server.port(), upper), recorder()), destination);
    EXPECT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(folder.read(destination), image);
}

TEST_F(RemoteUpdateDownloaderTest, BadAnswersLeaveNothingBehind) {
    struct Case {
        std::string reply;
        UpdateDownloadError::Kind kind;
    };
    const Case cases[] = {
        {LocalHTTPServer::reply("HTTP/1.1 404 Not Found", image),
         UpdateDownloadError::Kind::unreachable},
        {LocalHTTPServer::reply("HTTP/1.1 500 Oops", image),
         UpdateDownloadError::Kind::unreachable},
        {LocalHTTPServer::reply("HTTP/1.1 200 OK", "other bytes"),
         UpdateDownloadError::Kind::digestMismatch},
    };
    const auto destination = folder.path() / "Downloads" / "Meterly-1.2.0.3.tar.gz";
    folder.write(destination, "an older download");
    for (const auto& c : cases) {
        LocalHTTPServer server([&c](const std::string&) { return c.reply; });
        try {
            downloader().downloadNow(release(server.port(), digestOf(image)), recorder());
            ADD_FAILURE() << c.reply;
        } catch (const UpdateDownloadError& error) {
            EXPECT_EQ(error.kind(), c.kind);
        }
        EXPECT_EQ(filesIn(destination.parent_path()),
                  std::vector<std::string>{"Meterly-1.2.0.3.tar.gz"});
        EXPECT_EQ(folder.read(destination), "an older download");
    }
    // More bytes than allowed.
    LocalHTTPServer large([](const std::string&) {
        return LocalHTTPServer::reply("HTTP/1.1 200 OK", std::string(4096, 'x'));
    });
    try {
        downloader(10, 1024).downloadNow(release(large.port(), digestOf(image)), recorder());
        ADD_FAILURE() << "an oversized image was taken";
    } catch (const TransferError& error) {
        EXPECT_EQ(error.kind(), TransferError::Kind::tooLarge);
    }
    EXPECT_EQ(filesIn(destination.parent_path()),
              std::vector<std::string>{"Meterly-1.2.0.3.tar.gz"});
}

TEST_F(RemoteUpdateDownloaderTest, WithoutALengthOnlyTheFinalProgressIsReported) {
    LocalHTTPServer server([](const std::string&) {
        return std::string("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n") + image;
    });
    downloader().downloadNow(release(server.port(), digestOf(image)), recorder());
    EXPECT_EQ(reported(), std::vector<double>{1.0});
}

TEST_F(RemoteUpdateDownloaderTest, ASlowButFlowingDownloadGoesOnWhileAStalledOneEnds) {
    const std::string body(64 * 1024, 'z');
    // Ten pieces 300 ms apart: three seconds in all, with a one-second idle time-out.
    testing::LocalTLSServer secure(
        [&body](testing::UpstreamConnection& connection, const testing::HTTPMessage& request) {
            connection.write("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nConnection: close\r\n\r\n");
            const bool stall = request.target() == "/stall";
            const std::size_t piece = body.size() / 10;
            for (std::size_t i = 0; i < 10; ++i) {
                if (stall && i == 5) {
                    std::this_thread::sleep_for(3s);
                    break;
                }
                if (!connection.write(std::string_view(body).substr(i * piece, piece))) {
                    return;
                }
                std::this_thread::sleep_for(300ms);
            }
            if (!stall) {
                connection.write(std::string_view(body).substr(10 * piece));
            }
            connection.close();
        });
    certificateFile = secure.certificateFile().string();
    auto info = release(secure.port(), digestOf(body), "https");
    const auto path = downloader(1).downloadNow(info, recorder());
    EXPECT_EQ(folder.read(path), body);
    const auto values = reported();
    EXPECT_GT(values.size(), 3u);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(values.back(), 1.0);

    std::filesystem::remove(path);
    info.downloadURL = "https://127.0.0.1:" + std::to_string(secure.port()) + "/stall";
    EXPECT_THROW(downloader(1).downloadNow(info, recorder()), TransferError);
    EXPECT_TRUE(filesIn(path.parent_path()).empty());
}

TEST_F(RemoteUpdateDownloaderTest, DestroyingTheDownloaderStopsATransferThatStalls) {
    // The server sends the head and a first piece, then holds the connection for up to a minute;
    // the transfer's own idle time-out is longer still.
    testing::HeldReply stall(60s);
    testing::LocalTLSServer secure(
        [&stall](testing::UpstreamConnection& connection, const testing::HTTPMessage&) {
            connection.write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" +
                             std::string(1000, 'x'));
            stall.hold();
            connection.close();
        });
    certificateFile = secure.certificateFile().string();
    URLTransfer::Options options;
    options.idleTimeout = 120;
    options.certificateFile = certificateFile;
    auto remote =
        std::make_unique<RemoteUpdateDownloader>(executor, folder.path() / "Downloads", options);
    bool finished = false;
    remote->download(
        release(secure.port(), digestOf(image), "https"), recorder(),
        [&finished](const state::Outcome<std::filesystem::path>&) { finished = true; });
    ASSERT_TRUE(stall.waitUntilHolding(20s));
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (reported().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_FALSE(reported().empty()) << "the first piece never arrived";

    remote.reset();
    EXPECT_FALSE(stall.ended()) << "destruction waited for the server to end its stall";
    stall.release();
    executor.runReady();
    EXPECT_FALSE(finished) << "a result arrived after destruction";
    EXPECT_TRUE(filesIn(folder.path() / "Downloads").empty());
}

TEST(DownloadFolderTest, ReadsTheUsersDownloadFolderFromUserDirs) {
    const std::filesystem::path home = "/home/ada";
    struct Case {
        const char* text;
        std::optional<std::filesystem::path> folder;
    };
    const Case cases[] = {
        {"XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n", "/home/ada/Downloads"},
        {"# "
         "comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOWNLOAD_DIR=\"$HOME/Téléchargements/\"",
         "/home/ada/Téléchargements"},
        {"XDG_DOWNLOAD_DIR=\"/data/dl\"", "/data/dl"},
        {"XDG_DOWNLOAD_DIR=\"$HOME/\"", std::nullopt},
        {"XDG_DOWNLOAD_DIR=\"$HOME\"", std::nullopt},
        {"XDG_DOWNLOAD_DIR=relative", std::nullopt},
        {"XDG_DOWNLOAD_DIR=\"dl\"", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DownloadFolder::fromUserDirs(c.text, home), c.folder) << c.text;
    }
}

TEST(DownloadFolderTest, FallsBackToDownloadsThenTheTemporaryFolder) {
    TempDir home;
    TempDir temporary;
    std::map<std::string, std::string, std::less<>> variables{{"TMPDIR", temporary.path()}};
    auto environment = [&variables](std::string_view name) -> std::optional<std::string> {
        auto it = variables.find(name);
        return it == variables.end() ? std::nullopt : std::optional(it->second);
    };
    EXPECT_EQ(DownloadFolder::standard(home.path(), environment), temporary.path());
    std::filesystem::create_directories(home.path() / "Downloads");
    EXPECT_EQ(DownloadFolder::standard(home.path(), environment), home.path() / "Downloads");
    home.write(".config/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/Incoming\"\n");
    // A named folder that does not exist is passed over.
    EXPECT_EQ(DownloadFolder::standard(home.path(), environment), home.path() / "Downloads");
    std::filesystem::create_directories(home.path() / "Incoming");
    EXPECT_EQ(DownloadFolder::standard(home.path(), environment), home.path() / "Incoming");
    variables["XDG_CONFIG_HOME"] = (home.path() / "elsewhere").string();
    EXPECT_EQ(DownloadFolder::standard(home.path(), environment), home.path() / "Downloads");
}

} // namespace
} // namespace meterly::update
