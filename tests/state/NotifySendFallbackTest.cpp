#include "state/NotifySendFallback.hpp"

#include "support/FakeNotifySend.hpp"
#include "support/TempDir.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <utility>
#include <vector>

namespace meterly::state {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using testing::FakeNotifySend;
using testing::processGone;

core::EnvironmentLookup pathTo(const fs::path& folder) {
    return [bin = folder.string()](std::string_view name) {
        return name == "PATH" ? std::optional<std::string>(bin) : std::nullopt;
    };
}

TEST(NotifySendFallbackTest, RunsNotifySendWithAnArgumentVectorAndReapsIt) {
    FakeNotifySend fake;
    NotifySendFallback fallback(pathTo(fake.binFolder()));
    const std::string awkward = "\"quoted\" \\ $(touch no) -n";
    fallback.show("25% limit remaining", "Limit running low");
    fallback.show("-title", awkward);
    ASSERT_TRUE(fallback.waitUntilIdle(10s));

    auto runs = fake.runs();
    ASSERT_EQ(runs.size(), 2u);
    std::vector<std::vector<std::string>> arguments{runs[0].arguments, runs[1].arguments};
    std::sort(arguments.begin(), arguments.end());
    EXPECT_EQ(arguments[0],
              (std::vector<std::string>{"--app-name=Meterly",
                                        "--hint=string:sound-name:message-new-instant", "--",
                                        "Meterly", "-title\n" + awkward}));
    EXPECT_EQ(arguments[1],
              (std::vector<std::string>{"--app-name=Meterly",
                                        "--hint=string:sound-name:message-new-instant", "--",
                                        "Meterly", "25% limit remaining\nLimit running low"}));
    for (const auto& run : runs) {
        EXPECT_TRUE(processGone(run.pid)) << "child " << run.pid << " left as a zombie";
    }
}

TEST(NotifySendFallbackTest, AChildThatHangsIsKilledAndReapedAfterTheTimeLimit) {
    FakeNotifySend fake(/*hang=*/true);
    NotifySendFallback fallback(pathTo(fake.binFolder()), /*timeLimit=*/1.0);
    fallback.show("T", "B");
    ASSERT_TRUE(fallback.waitUntilIdle(10s));
    const auto runs = fake.runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(processGone(runs[0].pid));
}

TEST(NotifySendFallbackTest, DestructionEndsChildrenStillRunning) {
    FakeNotifySend fake(/*hang=*/true);
    int pid = 0;
    {
        NotifySendFallback fallback(pathTo(fake.binFolder()));
        fallback.show("T", "B");
        // Wait for the child to have started and recorded itself.
        for (int i = 0; i < 1000 && fake.runs().empty(); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_EQ(fake.runs().size(), 1u);
        pid = fake.runs()[0].pid;
        EXPECT_FALSE(processGone(pid));
        EXPECT_FALSE(fallback.waitUntilIdle(0ms));
    }
    EXPECT_TRUE(processGone(pid));
}

TEST(NotifySendFallbackTest, AMissingProgramIsIgnored) {
    testing::TempDir empty;
    NotifySendFallback fallback([&](std::string_view name) {
        return name == "PATH" ? std::optional<std::string>(empty.path().string()) : std::nullopt;
    });
    fallback.show("T", "B");
    EXPECT_TRUE(fallback.waitUntilIdle(10s));
}

} // namespace
} // namespace meterly::state
