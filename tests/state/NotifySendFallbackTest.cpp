#include "state/NotifySendFallback.hpp"

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

// A notify-send of the test's own in <home>/bin: each run records its arguments (NUL-separated)
// in <home>/runs/<pid>; with `hang` it then sleeps until killed.
class FakeNotifySend {
public:
    explicit FakeNotifySend(bool hang = false) {
        const auto runs = (home_.path() / "runs").string();
        fs::create_directories(runs);
        const auto script =
            home_.write("bin/notify-send", "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + runs +
                                               "'/$$\n" + (hang ? "exec sleep 600\n" : ""));
        ::chmod(script.c_str(), 0755);
    }
    core::EnvironmentLookup environment() const {
        return [bin = (home_.path() / "bin").string()](std::string_view name) {
            return name == "PATH" ? std::optional<std::string>(bin) : std::nullopt;
        };
    }
    // Each run's process id and arguments.
    std::vector<std::pair<int, std::vector<std::string>>> runs() const {
        std::vector<std::pair<int, std::vector<std::string>>> result;
        for (const auto& entry : fs::directory_iterator(home_.path() / "runs")) {
            const auto bytes = home_.read(entry.path());
            std::vector<std::string> arguments;
            std::string current;
            for (const char c : bytes) {
                if (c == '\0') {
                    arguments.push_back(std::exchange(current, {}));
                } else {
                    current.push_back(c);
                }
            }
            result.emplace_back(std::stoi(entry.path().filename().string()), arguments);
        }
        return result;
    }

private:
    testing::TempDir home_{"meterly-notify-send"};
};

// True when no process with this id is left, not even a zombie waiting to be reaped.
bool gone(int pid) {
    return !fs::exists("/proc/" + std::to_string(pid));
}

TEST(NotifySendFallbackTest, RunsNotifySendWithAnArgumentVectorAndReapsIt) {
    FakeNotifySend fake;
    NotifySendFallback fallback(fake.environment());
    const std::string awkward = "\"quoted\" \\ $(touch no) -n";
    fallback.show("25% limit remaining", "Limit running low");
    fallback.show("-title", awkward);
    ASSERT_TRUE(fallback.waitUntilIdle(10s));

    auto runs = fake.runs();
    ASSERT_EQ(runs.size(), 2u);
    std::vector<std::vector<std::string>> arguments{runs[0].second, runs[1].second};
    std::sort(arguments.begin(), arguments.end());
    EXPECT_EQ(arguments[0], (std::vector<std::string>{"--app-name=Meterly", "--", "Meterly",
                                                      "-title\n" + awkward}));
    EXPECT_EQ(arguments[1], (std::vector<std::string>{"--app-name=Meterly", "--", "Meterly",
                                                      "25% limit remaining\nLimit running low"}));
    for (const auto& [pid, args] : runs) {
        EXPECT_TRUE(gone(pid)) << "child " << pid << " left as a zombie";
    }
}

TEST(NotifySendFallbackTest, AChildThatHangsIsKilledAndReapedAfterTheTimeLimit) {
    FakeNotifySend fake(/*hang=*/true);
    NotifySendFallback fallback(fake.environment(), /*timeLimit=*/1.0);
    fallback.show("T", "B");
    ASSERT_TRUE(fallback.waitUntilIdle(10s));
    const auto runs = fake.runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(gone(runs[0].first));
}

TEST(NotifySendFallbackTest, DestructionEndsChildrenStillRunning) {
    FakeNotifySend fake(/*hang=*/true);
    int pid = 0;
    {
        NotifySendFallback fallback(fake.environment());
        fallback.show("T", "B");
        // Wait for the child to have started and recorded itself.
        for (int i = 0; i < 1000 && fake.runs().empty(); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_EQ(fake.runs().size(), 1u);
        pid = fake.runs()[0].first;
        EXPECT_FALSE(gone(pid));
        EXPECT_FALSE(fallback.waitUntilIdle(0ms));
    }
    EXPECT_TRUE(gone(pid));
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
