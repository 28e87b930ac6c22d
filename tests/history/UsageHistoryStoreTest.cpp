#include "history/UsageHistoryStore.hpp"

#include "HistoryTestSupport.hpp"
#include "support/TempDir.hpp"

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <thread>
#include <vector>

namespace meterly::history {
namespace {

namespace fs = std::filesystem;
using meterly::testing::TempDir;
using testing::FixedOffsetCalendar;

// 2026-06-01T12:00:00Z.
constexpr core::Date noon = 1780315200;

std::string assistantLine(const std::string& messageID, const std::string& time, int input,
                          const std::string& cwd = "/work/app") {
    return R"({"type":"assistant","timestamp":")" + time + R"(","sessionId":"s1","cwd":")" + cwd +
           R"(","message":{"id":")" + messageID +
           R"(","model":"claude-x","usage":{"input_tokens":)" + std::to_string(input) +
           R"(,"output_tokens":1}}})" + "\n";
}

void append(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::app | std::ios::binary) << text;
}

TEST(UsageHistoryStoreRootTest, ClaudeConfigDirOrTheHomeFolder) {
    struct Case {
        std::optional<std::string> configured;
        fs::path expected;
    };
    const Case cases[] = {
        {std::nullopt, "/home/me/.claude/projects"},
        {"", "/home/me/.claude/projects"},
        {"/etc/claude", "/etc/claude/projects"},
        {"relative/cfg", "relative/cfg/projects"},
        {"~/cfg", "~/cfg/projects"},
    };
    for (const auto& c : cases) {
        core::EnvironmentLookup environment = [&](std::string_view name) {
            return name == "CLAUDE_CONFIG_DIR" ? c.configured : std::nullopt;
        };
        EXPECT_EQ(UsageHistoryStore::defaultRoot(environment, "/home/me"), c.expected)
            << c.configured.value_or("(unset)");
    }
}

class UsageHistoryStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(projects() / "app");
        fs::create_directories(tmp.path() / "home");
    }

    fs::path projects() const {
        return UsageHistoryStore::defaultRoot(
            [&](std::string_view) -> std::optional<std::string> {
                return (tmp.path() / "config").string();
            },
            tmp.path() / "home");
    }

    UsageHistoryStore makeStore() {
        return UsageHistoryStore(projects(), 2592000, tmp.path() / "home",
                                 std::make_shared<FixedOffsetCalendar>(), 2);
    }

    TempDir tmp;
};

TEST_F(UsageHistoryStoreTest, RefreshesIncrementallyAndCountsRepeats) {
    const auto file = projects() / "app/session.jsonl";
    append(file, assistantLine("m1", "2026-06-01T10:00:00Z", 10) +
                     assistantLine("m2", "2026-06-01T11:00:00.5Z", 20) +
                     R"({"type":"user","message":"hi"})"
                     "\n" +
                     assistantLine("m1", "2026-06-01T10:00:00Z", 10));
    auto store = makeStore();
    EXPECT_EQ(store.diagnostics(), ScanSummary{});
    EXPECT_EQ(store.root(), projects());

    auto first = store.refreshAndReport(noon);
    auto summary = store.diagnostics();
    EXPECT_EQ(summary.filesSeen, 1);
    EXPECT_EQ(summary.newEntries, 2);
    EXPECT_EQ(summary.duplicateLines, 1);
    EXPECT_EQ(summary.skippedLines, 1);
    EXPECT_EQ(first.responseCount, 2);
    EXPECT_EQ(first.total, (TokenUsage{30, 2, 0, 0}));
    EXPECT_EQ(first.today.responseCount, 2);
    ASSERT_EQ(first.topProjectsToday.size(), 1u);
    EXPECT_EQ(first.topProjectsToday[0].displayName, "app");

    // Nothing new: an equal report and no counted entries.
    EXPECT_EQ(store.refreshAndReport(noon), first);
    EXPECT_EQ(store.diagnostics().newEntries, 0);
    EXPECT_EQ(store.diagnostics().duplicateLines, 0);
    EXPECT_EQ(store.diagnostics().bytesRead, 0);

    // A copy put in place of the file is read again, and all of it repeats what is known.
    const auto copy = tmp.path() / "copy.jsonl";
    fs::copy_file(file, copy);
    fs::rename(copy, file);
    auto again = store.refresh();
    EXPECT_EQ(again.filesReset, 1);
    EXPECT_EQ(again.newEntries, 0);
    EXPECT_EQ(again.duplicateLines, 3);
    EXPECT_EQ(store.report(noon).total, first.total);

    append(file, assistantLine("m3", "2026-06-01T11:30:00Z", 5));
    EXPECT_EQ(store.refresh().newEntries, 1);
    EXPECT_EQ(store.report(noon).total.inputTokens, 35);
    EXPECT_EQ(store.usage(3600, noon).responseCount, 2);
}

TEST_F(UsageHistoryStoreTest, SpansThatCannotBeCounted) {
    append(projects() / "app/session.jsonl", assistantLine("m1", "2026-05-05T12:00:00Z", 1) +
                                                 assistantLine("m2", "2026-06-01T12:00:00Z", 1));
    auto store = makeStore();
    store.refresh();
    for (double span : {-5.0, std::numeric_limits<double>::quiet_NaN()}) {
        auto window = store.usage(span, noon);
        EXPECT_EQ(window.since, noon) << span;
        EXPECT_EQ(window.duration, 0) << span;
        EXPECT_EQ(window.responseCount, 1) << span;
    }
    auto everything = store.usage(std::numeric_limits<double>::infinity(), noon);
    EXPECT_EQ(everything.responseCount, 2);
    EXPECT_TRUE(everything.isTruncated);
}

TEST_F(UsageHistoryStoreTest, ALineDatedInTheFutureLeavesTheWindowsAlone) {
    append(projects() / "app/session.jsonl", assistantLine("m1", "2026-06-01T11:00:00Z", 10) +
                                                 assistantLine("m2", "2026-05-30T11:00:00Z", 20));
    fs::create_directories(projects() / "odd");
    const auto future = projects() / "odd/future.jsonl";
    append(future, assistantLine("f1", "2026-07-20T12:00:00Z", 1000));
    // The clock stops at noon, before the line's date.
    UsageHistoryStore store(projects(), 2592000, tmp.path() / "home",
                            std::make_shared<FixedOffsetCalendar>(), 2, [] { return noon; });

    const auto expectWindows = [&](const UsageHistoryReport& report) {
        EXPECT_EQ(report.lastFiveHours.usage.inputTokens, 10);
        EXPECT_EQ(report.today.usage.inputTokens, 10);
        EXPECT_EQ(report.lastSevenDays.usage.inputTokens, 30);
        EXPECT_EQ(store.usage(2592000, noon).usage.inputTokens, 30);
    };
    auto report = store.refreshAndReport(noon);
    expectWindows(report);
    EXPECT_EQ(report.total.inputTokens, 1030);

    // Once the file is gone the windows stay as they are.
    fs::remove(future);
    expectWindows(store.refreshAndReport(noon));

    // A line dated in the future again, read by a refresh that takes its time from the clock.
    append(future, assistantLine("f2", "2026-08-20T12:00:00Z", 1000));
    store.refresh();
    expectWindows(store.report(noon));
}

TEST_F(UsageHistoryStoreTest, MissingProjectsFolderGivesAnEmptyHistory) {
    fs::remove_all(tmp.path() / "config");
    auto store = makeStore();
    auto report = store.refreshAndReport(noon);
    EXPECT_TRUE(report.isEmpty());
    EXPECT_EQ(store.diagnostics(), ScanSummary{});
}

// Callers on several threads while Claude Code keeps writing: every call sees a whole refresh.
TEST_F(UsageHistoryStoreTest, ConcurrentCallersSeeWholeRefreshes) {
    const auto file = projects() / "app/session.jsonl";
    auto store = makeStore();
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; i < 200; ++i) {
            append(file, assistantLine("w" + std::to_string(i), "2026-06-01T11:00:00Z", 1));
        }
        writing = false;
    });
    std::vector<std::thread> readers;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&, t] {
            std::int64_t seen = 0;
            while (writing || seen < 200) {
                auto report = t % 2 == 0 ? store.refreshAndReport(noon) : store.report(noon);
                if (report.responseCount < seen ||
                    report.total.inputTokens != report.responseCount) {
                    ++failures;
                }
                seen = report.responseCount;
                store.diagnostics();
                store.usage(3600, noon);
                if (!writing && t % 2 == 1) {
                    break;
                }
            }
        });
    }
    writer.join();
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(store.refreshAndReport(noon).responseCount, 200);
}

} // namespace
} // namespace meterly::history
