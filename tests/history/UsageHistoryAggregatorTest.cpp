#include "history/UsageHistoryAggregator.hpp"

#include "HistoryTestSupport.hpp"
#include "support/TempDir.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <limits>

namespace meterly::history {
namespace {

namespace fs = std::filesystem;
using testing::FixedOffsetCalendar;
using testing::makeEntry;
using testing::ScopedTimeZone;

constexpr core::Seconds hour = 3600;
constexpr core::Seconds day = 86400;
constexpr core::Seconds thirtyDays = 2592000;
// 2026-06-01T00:00:00Z.
constexpr core::Date june1 = 1780272000;

class UsageHistoryAggregatorTest : public ::testing::Test {
protected:
    UsageHistoryAggregator make(core::Seconds retention = thirtyDays, core::Seconds offset = 0) {
        return UsageHistoryAggregator(retention, ProjectRootResolver(tmp.path() / "home"),
                                      std::make_shared<FixedOffsetCalendar>(offset));
    }

    meterly::testing::TempDir tmp;
};

TEST_F(UsageHistoryAggregatorTest, CountsEachMessageOnce) {
    auto history = make();
    auto first = makeEntry("m1", june1, 10);
    auto repeat = makeEntry("m1", june1 + 60, 999);
    repeat.sessionID = "other";
    EXPECT_EQ(history.ingest({first, makeEntry("m2", june1, 5), repeat}), 2);
    EXPECT_EQ(history.ingest({repeat, first}), 0);
    EXPECT_FALSE(history.ingest(repeat));

    auto report = history.report(june1 + hour);
    EXPECT_EQ(report.responseCount, 2);
    EXPECT_EQ(report.total, (TokenUsage{15, 0, 0, 0}));
    ASSERT_EQ(report.sessions.size(), 1u);
    EXPECT_EQ(report.sessions[0].lastActivity, june1);
    EXPECT_EQ(report.lastFiveHours.responseCount, 2);
}

TEST_F(UsageHistoryAggregatorTest, RetentionCountsBackFromTheNewestEntry) {
    auto history = make();
    const core::Date day40 = june1 + 40 * day;
    history.ingest({makeEntry("old", june1, 1), makeEntry("cutoff", day40 - thirtyDays, 2),
                    makeEntry("new", day40, 4)});
    EXPECT_EQ(history.retainedCount(), 2u);
    EXPECT_EQ(history.horizon(), day40 - thirtyDays);

    // Long after the last use the retained responses are still there; all-time totals keep all.
    auto report = history.report(day40 + 90 * day);
    EXPECT_EQ(report.total.inputTokens, 7);
    EXPECT_EQ(history.windowUsage(june1 - day, day40).usage.inputTokens, 6);
    EXPECT_TRUE(history.windowUsage(june1 - day, day40).isTruncated);
    EXPECT_FALSE(history.windowUsage(day40 - thirtyDays, day40).isTruncated);
}

TEST_F(UsageHistoryAggregatorTest, EntriesDatedAfterNowDoNotMoveTheCutOff) {
    auto history = make();
    history.ingest({makeEntry("week-old", june1 - 7 * day, 1), makeEntry("recent", june1 - hour, 2),
                    makeEntry("future", june1 + 60 * day, 4)},
                   june1);
    EXPECT_EQ(history.retainedCount(), 3u);
    EXPECT_EQ(history.horizon(), june1 - 7 * day);
    const auto report = history.report(june1);
    EXPECT_EQ(report.lastFiveHours.usage.inputTokens, 2);
    EXPECT_EQ(report.lastSevenDays.usage.inputTokens, 3);

    // Counted back from `now` all the same once the newest entry is older than the retention.
    history.ingest({}, june1 + 40 * day);
    EXPECT_EQ(history.retainedCount(), 1u);
    EXPECT_EQ(history.horizon(), june1 + 60 * day);
}

TEST_F(UsageHistoryAggregatorTest, ABatchInPartsEndsWithTheAnchorItIsGiven) {
    auto history = make();
    EXPECT_EQ(history.accept({makeEntry("a", june1 - 40 * day, 1), makeEntry("b", june1, 2)}), 2);
    EXPECT_EQ(history.accept({makeEntry("b", june1, 2), makeEntry("c", june1 + day, 4)}), 1);
    // Accepted, not yet in the windows.
    EXPECT_EQ(history.windowUsage(june1 - 50 * day, june1 + day).responseCount, 0);
    history.endBatch(std::nullopt);
    EXPECT_EQ(history.retainedCount(), 3u);
    history.endBatch(june1);
    EXPECT_EQ(history.retainedCount(), 2u);
    EXPECT_EQ(history.horizon(), june1);
    EXPECT_EQ(history.report(june1 + day).total.inputTokens, 7);
}

TEST_F(UsageHistoryAggregatorTest, RetentionsThatCannotBeCountedAreClamped) {
    struct Case {
        core::Seconds retention;
        std::size_t retained;
    };
    const Case cases[] = {
        {std::numeric_limits<double>::infinity(), 3},
        {std::numeric_limits<double>::quiet_NaN(), 1},
        {-5, 1},
        {0, 1},
    };
    for (const auto& c : cases) {
        auto history = make(c.retention);
        history.ingest({makeEntry("a", june1 - 400 * day), makeEntry("b", june1 - day),
                        makeEntry("c", june1)});
        EXPECT_EQ(history.retainedCount(), c.retained) << c.retention;
        EXPECT_EQ(history.report(june1).total.inputTokens, 3) << c.retention;
    }
}

TEST_F(UsageHistoryAggregatorTest, WindowsIncludeBothEndsAndKnowTheirHorizon) {
    auto history = make();
    EXPECT_FALSE(history.windowUsage(june1 - day, june1).isTruncated);
    history.ingest({makeEntry("at-since", june1 - hour), makeEntry("at-now", june1),
                    makeEntry("after-now", june1 + 1)});

    auto window = history.windowUsage(june1 - hour, june1);
    EXPECT_EQ(window.responseCount, 2);
    EXPECT_EQ(window.duration, hour);
    EXPECT_EQ(window.since, june1 - hour);
    EXPECT_EQ(window.until, june1);
    // Nothing was ever dropped, yet the window reaches back before the oldest response.
    EXPECT_TRUE(history.windowUsage(june1 - hour - 1, june1).isTruncated);
    EXPECT_EQ(history.windowUsage(june1, june1 - 1).responseCount, 0);
    EXPECT_EQ(history.windowUsage(std::numeric_limits<double>::quiet_NaN(), june1).responseCount,
              0);
    EXPECT_EQ(history.windowUsage(-std::numeric_limits<double>::infinity(), june1).responseCount,
              2);

    // The entry a second after now is in no window but in the current hour's bucket.
    auto buckets = history.requestsByHour(june1 + 30 * 60, 2);
    ASSERT_EQ(buckets.size(), 2u);
    EXPECT_EQ(buckets[1], (RequestBucket{june1, 2, 2}));
}

TEST_F(UsageHistoryAggregatorTest, RequestsByHourCoverTheLastClockHours) {
    // Local time two hours ahead of UTC: 14:30 local is 12:30Z.
    auto history = make(thirtyDays, 2 * hour);
    const core::Date localMidnight = june1 - 2 * hour;
    const core::Date now = localMidnight + 14.5 * hour;
    auto big = makeEntry("big", localMidnight + 14 * hour + 1);
    big.usage = {1, 2, 3, 4};
    history.ingest({makeEntry("too-old", localMidnight - 9 * hour - 1), // 14:59:59 the day before
                    makeEntry("first-hour", localMidnight - 9 * hour),  // 15:00 the day before
                    makeEntry("morning", localMidnight + 9 * hour + 59 * 60), big,
                    makeEntry("next-hour", localMidnight + 15 * hour)});

    auto buckets = history.requestsByHour(now, 24);
    ASSERT_EQ(buckets.size(), 24u);
    for (std::size_t i = 0; i < buckets.size(); ++i) {
        EXPECT_EQ(buckets[i].start, localMidnight - 9 * hour + static_cast<double>(i) * hour);
    }
    EXPECT_EQ(buckets[0], (RequestBucket{localMidnight - 9 * hour, 1, 1}));
    EXPECT_EQ(buckets[18], (RequestBucket{localMidnight + 9 * hour, 1, 1}));
    EXPECT_EQ(buckets[23], (RequestBucket{localMidnight + 14 * hour, 1, 10}));
    std::int64_t responses = 0;
    for (const auto& bucket : buckets) {
        responses += bucket.responseCount;
    }
    EXPECT_EQ(responses, 3);
    EXPECT_TRUE(history.requestsByHour(now, 0).empty());
    EXPECT_TRUE(history.requestsByHour(now, -1).empty());
    EXPECT_TRUE(history.requestsByHour(std::numeric_limits<double>::infinity(), 24).empty());
}

TEST_F(UsageHistoryAggregatorTest, ProjectsRankByRepositoryRoot) {
    fs::create_directories(tmp.path() / "repo/.git");
    fs::create_directories(tmp.path() / "repo/a");
    fs::create_directories(tmp.path() / "repo/b");
    fs::create_directories(tmp.path() / "other/x/app");
    fs::create_directories(tmp.path() / "other/y/app");
    auto at = [&](UsageEntry entry, const std::string& projectID, const std::string& cwd,
                  std::int64_t tokens) {
        entry.projectID = projectID;
        entry.projectPath = cwd.empty() ? cwd : (tmp.path() / cwd).string();
        entry.usage = {tokens, 0, 0, 0};
        return entry;
    };
    auto history = make();
    // The later response is accepted first: acceptance order names the shared row.
    history.ingest({at(makeEntry("1", june1 + 2 * hour), "folder-b", "repo/b", 5),
                    at(makeEntry("2", june1 + hour), "folder-a", "repo/a", 5),
                    at(makeEntry("3", june1 + hour), "x-app", "other/x/app", 3),
                    at(makeEntry("4", june1 + hour), "y-app", "other/y/app", 3),
                    at(makeEntry("5", june1 + hour), "empty-1", "", 2),
                    at(makeEntry("6", june1 + hour), "empty-2", "", 1)});

    auto rows = history.topProjects(june1, june1 + day);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], (ProjectSpend{"folder-b", (tmp.path() / "repo").string(), "repo",
                                     TokenUsage{10, 0, 0, 0}}));
    EXPECT_EQ(rows[1].projectID, "x-app");
    EXPECT_EQ(rows[1].displayName, "x/app");
    EXPECT_EQ(rows[2].projectID, "y-app");
    EXPECT_EQ(rows[2].displayName, "y/app");
    // An empty working folder is no folder: those rows go by their project folders.
    EXPECT_EQ(rows[3], (ProjectSpend{"empty-1", std::nullopt, "empty-1", TokenUsage{2, 0, 0, 0}}));
    EXPECT_EQ(rows[4].displayName, "empty-2");

    auto report = history.report(june1 + 3 * hour);
    EXPECT_EQ(report.projects.size(), 6u);
    EXPECT_EQ(report.topProjectsToday.size(), 3u);
    EXPECT_EQ(report.topProjectsToday[0].projectID, "folder-b");
    for (const auto& project : report.projects) {
        EXPECT_NE(project.projectPath, std::optional<std::string>(""));
    }
}

TEST_F(UsageHistoryAggregatorTest, LatestModelAndUnknownModels) {
    auto history = make();
    auto unnamed = makeEntry("unnamed", june1, 3);
    unnamed.model.reset();
    auto named = makeEntry("named", june1 - hour, 2);
    named.model = "unknown";
    auto sonnet = makeEntry("sonnet", june1 - hour, 4);
    sonnet.model = "sonnet";
    history.ingest({sonnet, named, unnamed});

    auto report = history.report(june1);
    EXPECT_EQ(report.latestActivity, june1);
    EXPECT_EQ(report.latestModel, std::nullopt);
    const std::vector<ModelUsage> expected = {{"unknown", 2, {5, 0, 0, 0}},
                                              {"sonnet", 1, {4, 0, 0, 0}}};
    EXPECT_EQ(report.models, expected);
    EXPECT_EQ(report.modelsThisWeek, expected);

    // Of two responses at the newest instant, the one accepted last names the model.
    auto tieA = makeEntry("tie-a", june1 + 1);
    tieA.model = "a";
    auto tieB = makeEntry("tie-b", june1 + 1);
    tieB.model = "b";
    history.ingest({tieA, tieB});
    EXPECT_EQ(history.report(june1 + 1).latestModel, "b");
}

TEST_F(UsageHistoryAggregatorTest, EqualRowsComeOutInTheSameOrderWhateverTheInput) {
    std::vector<UsageEntry> entries;
    for (const char* name : {"c", "a", "b"}) {
        auto entry = makeEntry(std::string("m-") + name, june1);
        entry.sessionID = std::string("s-") + name;
        entry.projectID = std::string("p-") + name;
        entry.model = std::string("model-") + name;
        entries.push_back(entry);
    }
    // The newest response names the latest model; it comes last in both orders.
    auto newest = makeEntry("m-newest", june1 + 1);
    newest.sessionID = "s-newest";
    auto forward = make();
    forward.ingest(entries);
    forward.ingest({newest});
    auto backward = make();
    backward.ingest({entries.rbegin(), entries.rend()});
    backward.ingest({newest});

    auto report = forward.report(june1 + hour);
    EXPECT_EQ(report, backward.report(june1 + hour));
    EXPECT_EQ(report.sessions[1].sessionID, "s-a");
    EXPECT_EQ(report.projects[0].projectID, "p-a");
    EXPECT_EQ(report.models[0].model, "model");
    EXPECT_EQ(report.models[1].model, "model-a");
    EXPECT_EQ(report.topProjectsToday[0].projectID, "p-a");
    EXPECT_EQ(report.modelsThisWeek[3].model, "model-c");
    EXPECT_NE(report, forward.report(june1 + hour + 1));
}

TEST_F(UsageHistoryAggregatorTest, EmptyHistoryReport) {
    auto report = make().report(june1);
    EXPECT_TRUE(report.isEmpty());
    EXPECT_EQ(report.total, TokenUsage::zero());
    EXPECT_TRUE(report.sessions.empty() && report.projects.empty() && report.models.empty());
    EXPECT_TRUE(report.topProjectsToday.empty() && report.modelsThisWeek.empty());
    EXPECT_EQ(report.latestActivity, std::nullopt);
    EXPECT_EQ(report.latestModel, std::nullopt);
    ASSERT_EQ(report.requestsByHour.size(), 24u);
    EXPECT_EQ(report.requestsByHour.back(), (RequestBucket{june1, 0, 0}));
    for (const auto* window : {&report.lastFiveHours, &report.today, &report.lastSevenDays}) {
        EXPECT_EQ(window->responseCount, 0);
        EXPECT_FALSE(window->isTruncated);
        EXPECT_EQ(window->until, june1);
    }
    EXPECT_EQ(report.lastSevenDays.duration, 604800);
}

TEST_F(UsageHistoryAggregatorTest, SessionsAndProjectsKeepTheirFirstWorkingFolder) {
    auto history = make();
    auto a = makeEntry("a", june1 + hour);
    a.projectPath = "";
    auto b = makeEntry("b", june1);
    b.projectPath = "/work/app/sub";
    auto c = makeEntry("c", june1 + 2 * hour);
    c.projectPath = "/work/elsewhere";
    c.sessionID = "second";
    history.ingest({a, b, c});

    auto report = history.report(june1 + 3 * hour);
    ASSERT_EQ(report.projects.size(), 1u);
    EXPECT_EQ(
        report.projects[0],
        (ProjectUsage{"project", "/work/app/sub", 2, june1, june1 + 2 * hour, 3, {3, 0, 0, 0}}));
    EXPECT_EQ(report.projects[0].displayName(), "sub");
    ASSERT_EQ(report.sessions.size(), 2u);
    EXPECT_EQ(report.sessions[0].sessionID, "second");
    EXPECT_EQ(report.sessions[1],
              (SessionUsage{
                  "session", "project", "/work/app/sub", june1, june1 + hour, 2, {2, 0, 0, 0}}));
}

// The zone of the local calendar is the process's, set here for the test alone.
TEST_F(UsageHistoryAggregatorTest, DaylightSavingDaysInTheLocalCalendar) {
    ScopedTimeZone zone("America/New_York");
    UsageHistoryAggregator history(thirtyDays, ProjectRootResolver(tmp.path() / "home"),
                                   localCalendar());
    // 2026-03-08: 01:30 EST and 03:30 EDT are one elapsed hour apart; the day began at 05:00Z.
    const core::Date springMidnight = 1772946000;
    history.ingest({makeEntry("before-midnight", springMidnight - 1),
                    makeEntry("01:30 EST", springMidnight + 1.5 * hour),
                    makeEntry("03:30 EDT", springMidnight + 2.5 * hour)});
    const core::Date springNoon = springMidnight + 11.5 * hour; // 12:30 EDT
    auto report = history.report(springNoon);
    EXPECT_EQ(report.today.since, springMidnight);
    EXPECT_EQ(report.today.responseCount, 2);
    ASSERT_EQ(report.requestsByHour.size(), 24u);
    EXPECT_EQ(report.requestsByHour.back().start, springMidnight + 11 * hour);
    EXPECT_EQ(report.requestsByHour[12], (RequestBucket{springMidnight, 0, 0}));
    EXPECT_EQ(report.requestsByHour[13], (RequestBucket{springMidnight + hour, 1, 1}));
    EXPECT_EQ(report.requestsByHour[14], (RequestBucket{springMidnight + 2 * hour, 1, 1}));

    // 2026-11-01: the two 01:30s are separate hours of a 25-hour day that began at 04:00Z.
    const core::Date fallMidnight = 1793505600;
    history.ingest({makeEntry("first 01:30", fallMidnight + 1.5 * hour),
                    makeEntry("second 01:30", fallMidnight + 2.5 * hour),
                    makeEntry("23:30", fallMidnight + 24.5 * hour)});
    auto late = history.report(fallMidnight + 24.75 * hour);
    EXPECT_EQ(late.today.since, fallMidnight);
    EXPECT_EQ(late.today.responseCount, 3);
    EXPECT_EQ(late.requestsByHour[0], (RequestBucket{fallMidnight + hour, 1, 1}));
    EXPECT_EQ(late.requestsByHour[1], (RequestBucket{fallMidnight + 2 * hour, 1, 1}));
    EXPECT_EQ(late.requestsByHour[2], (RequestBucket{fallMidnight + 3 * hour, 0, 0}));
    EXPECT_EQ(late.requestsByHour[23], (RequestBucket{fallMidnight + 24 * hour, 1, 1}));
}

} // namespace
} // namespace meterly::history
