// The whole update road, for real: a release image built by the project's script from a laid-out
// bundle, a feed and the image served over HTTP on 127.0.0.1, the check, the verified download,
// the swap and the relaunch as a detached child.
#include "config/SystemdUserBackend.hpp"
#include "support/MemoryPreferences.hpp"
#include "support/VirtualTimeExecutor.hpp"
#include "support/FakeExecutable.hpp"
#include "support/LocalHTTPServer.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/TempDir.hpp"
#include "support/TestImage.hpp"
#include "update/RelaunchAfterUpdate.hpp"
#include "update/RemoteUpdateChecker.hpp"
#include "update/RemoteUpdateDownloader.hpp"
#include "update/UpdateInstaller.hpp"
#include "update/UpdateState.hpp"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace meterly::testing {
namespace {

using namespace std::chrono_literals;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Serves the files of one folder by their names.
LocalHTTPServer::Responder filesIn(std::filesystem::path folder) {
    return [folder](const std::string& head) -> std::optional<std::string> {
        const auto start = head.find(' ') + 2;
        const auto name = head.substr(start, head.find(' ', start) - start);
        const auto file = folder / name;
        if (name.find('/') != std::string::npos || !std::filesystem::is_regular_file(file)) {
            return LocalHTTPServer::reply("HTTP/1.1 404 Not Found", "");
        }
        return LocalHTTPServer::reply("HTTP/1.1 200 OK", readFile(file),
                                      "application/octet-stream");
    };
}

TEST(UpdateRoadTest, ChecksDownloadsVerifiesSwapsAndRelaunches) {
    TempDir root;
    const auto bundle = root.path() / "Applications" / "Meterly.app";
    const auto marker = root.path() / "relaunched";
    writeBundle(bundle, "app.meterly", "1.0.7", "#!/bin/sh\nexit 0\n");
    writeBundle(root.path() / "release" / "Meterly.app", "app.meterly", "1.1",
                "#!/bin/sh\nprintf '%s' \"$0\" > \"$ROAD_MARK.tmp\" && mv \"$ROAD_MARK.tmp\" "
                "\"$ROAD_MARK\"\n");
    ScopedEnvironment mark("ROAD_MARK", marker.string());

    const auto www = root.path() / "www";
    LocalHTTPServer server(filesIn(www));
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
    const std::string command = std::string(METERLY_SOURCE_DIR "/scripts/make-release-image ") +
                                "'" + (root.path() / "release" / "Meterly.app").string() + "' '" +
                                www.string() + "' '" + base + "Meterly-1.1.tar.gz' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(std::filesystem::exists(www / "Meterly-1.1.tar.gz"));

    state::VirtualTimeExecutor executor;
    state::MemoryPreferences defaults;
    update::URLTransfer::Options options;
    options.idleTimeout = 10;
    update::UpdateState updates(executor, defaults, executor.clock(),
                                {
                                    .backend = std::make_unique<update::RemoteUpdateChecker>(
                                        executor, base + "version.json", options),
                                    .downloader = std::make_unique<update::RemoteUpdateDownloader>(
                                        executor, root.path() / "Downloads", options),
                                    .installer = std::make_shared<update::UpdateInstaller>(),
                                    .currentVersion = "1.0.7",
                                    .bundlePath = bundle,
                                    .bundleID = "app.meterly",
                                    .newBucket = {},
                                });

    bool checked = false;
    updates.checkNow([&checked] { checked = true; });
    ASSERT_TRUE(executor.runUntil([&checked] { return checked; }));
    ASSERT_TRUE(updates.status()->isUpdateAvailable());
    EXPECT_EQ(updates.status()->offered()->latestVersion, "1.1");

    bool updated = false;
    updates.updateNow([&updated] { updated = true; });
    ASSERT_TRUE(executor.runUntil([&updated] { return updated; }));
    ASSERT_EQ(*updates.download(), update::DownloadState::installed())
        << updates.download()->message();
    EXPECT_EQ(readFile(root.path() / "Downloads" / "Meterly-1.1.tar.gz"),
              readFile(www / "Meterly-1.1.tar.gz"));
    EXPECT_NE(readFile(bundle / "Contents/MacOS/meterly").find("ROAD_MARK"), std::string::npos);
    EXPECT_EQ(
        readFile(root.path() / "Applications/.meterly-previous-Meterly.app/Contents/MacOS/meterly"),
        "#!/bin/sh\nexit 0\n");

    // The proxy's unit is not loaded here: only the app comes back.
    TempDir tools;
    FakeExecutable systemctl(tools.path(), "systemctl");
    systemctl.answer("is-enabled", {1});
    systemctl.answer("is-active", {3});
    bool quit = false;
    update::RelaunchAfterUpdate(
        update::RelaunchAfterUpdate::proxyAgent(
            root.path(), [](std::string_view) { return std::optional<std::string>(); },
            std::make_shared<config::SystemdUserBackend>(
                std::make_shared<config::PosixProcessRunner>(),
                [](std::string_view) { return std::optional<std::string>(); },
                systemctl.path().string())),
        bundle / update::UpdateInstaller::executableInBundle, [&quit] { quit = true; })
        .now();
    EXPECT_TRUE(quit);
    EXPECT_EQ(systemctl.calls().size(), 2u);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!std::filesystem::exists(marker) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(readFile(marker), (bundle / "Contents/MacOS/meterly").string());
}

} // namespace
} // namespace meterly::testing
