#include "ui/popover/PopoverPresenter.hpp"

#include "ui/tray/TrayGauge.hpp"

#include <gtest/gtest.h>
#include <limits>

namespace meterly::ui {
namespace {

using Tone = RingGauge::Tone;

core::LimitWindow window(double utilization, std::string status = "allowed") {
    return {std::move(status), utilization, 1'800'000'000};
}

TEST(PopoverPresenter, WindowRowPercentAndTone) {
    struct Case {
        double utilization;
        std::string status;
        const char* percent;
        Tone tone;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& c :
         {Case{0.426, "allowed", "57%", Tone::green}, Case{0.70, "allowed", "30%", Tone::orange},
          Case{0.90, "allowed", "10%", Tone::red}, Case{1.2, "allowed", "0%", Tone::red},
          Case{-0.1, "allowed", "100%", Tone::green}, Case{0.125, "allowed", "88%", Tone::green},
          Case{0.1, "rejected", "90%", Tone::red}, Case{0.1, "Allowed", "90%", Tone::red},
          Case{nan, "allowed", "0%", Tone::red}}) {
        const auto row = PopoverPresenter::windowRow("5 hours", window(c.utilization, c.status),
                                                     "1:02:03", "4:05 PM", false, true);
        EXPECT_EQ(row.percentText, c.percent) << c.utilization << " " << c.status;
        EXPECT_EQ(row.tone, c.tone) << c.utilization << " " << c.status;
    }
}

TEST(PopoverPresenter, WindowRowTexts) {
    const auto row =
        PopoverPresenter::windowRow("Week", window(0.5), "resetting…", "Tue 4:05 PM", false, true);
    EXPECT_EQ(row.title, "Week");
    EXPECT_EQ(row.resetsIn, QStringLiteral("resets in resetting…"));
    EXPECT_EQ(row.resetClock, "Tue 4:05 PM");
    EXPECT_DOUBLE_EQ(row.remaining, 0.5);
}

TEST(PopoverPresenter, RunwayWarningNeedsBothForecastAndSwitch) {
    struct Case {
        bool hasRunway;
        bool switchOn;
        bool shown;
    };
    for (const auto& c : {Case{true, true, true}, Case{true, false, false},
                          Case{false, true, false}, Case{false, false, false}}) {
        EXPECT_EQ(PopoverPresenter::windowRow("5 hours", window(0.5), "1:00", "4:05 PM",
                                              c.hasRunway, c.switchOn)
                      .showsRunwayWarning,
                  c.shown);
    }
}

TEST(PopoverPresenter, WaitingNoticeIgnoresTheFailureCount) {
    EXPECT_EQ(PopoverPresenter::waitingForData(std::nullopt).title, "Waiting for data");
    const auto one = PopoverPresenter::waitingForData(1);
    EXPECT_EQ(one.title, "Proxy status unreadable");
    EXPECT_EQ(one, PopoverPresenter::waitingForData(30));
    EXPECT_EQ(one.text, QStringLiteral("The app can't read the proxy's status endpoint. Claude "
                                       "Code may be unaffected — check Settings → Proxy."));
}

TEST(PopoverPresenter, ModelLine) {
    struct Case {
        std::optional<std::string> model;
        std::optional<std::string> lastActive;
        std::optional<QString> line;
    };
    for (const auto& c :
         {Case{std::nullopt, "5 min", std::nullopt},
          Case{"claude-opus-4-20250514", std::nullopt, QStringLiteral("opus-4-20250514")},
          Case{"claude-sonnet-4", "2h", QStringLiteral("sonnet-4 · 2h")},
          Case{"gpt-claude-x", std::nullopt, QStringLiteral("gpt-claude-x")},
          Case{"claude-", std::nullopt, QString()}}) {
        EXPECT_EQ(PopoverPresenter::modelLine(c.model, c.lastActive), c.line);
    }
}

TEST(PopoverPresenter, VersionFooter) {
    EXPECT_EQ(PopoverPresenter::versionFooter("1.2.0"), "v1.2.0");
    EXPECT_EQ(PopoverPresenter::versionFooter(std::nullopt), "v1.0.7");
}

TEST(PopoverPresenter, ModelDisplayNameCutsOnlyADateSuffix) {
    struct Case {
        const char* model;
        const char* shown;
    };
    for (const auto& c :
         {Case{"claude-opus-20250514", "claude-opus"}, Case{"claude-opus-2025051", "claude-opus"},
          Case{"claude-opus-202505", "claude-opus"}, Case{"claude-opus-2025", "claude-opus-2025"},
          Case{"claude-opus-202505141", "claude-opus-202505141"},
          Case{"claude-opus-4-1-20250805", "claude-opus-4-1"}, Case{"20250514", "20250514"},
          Case{"", ""}}) {
        EXPECT_EQ(PopoverPresenter::modelDisplayName(c.model), c.shown) << c.model;
    }
}

history::TokenUsage tokens(std::int64_t input) {
    return {input, 0, 0, 0};
}

TEST(PopoverPresenter, HistorySection) {
    history::UsageHistoryReport report;
    report.modelsThisWeek = {{"claude-opus-4-20250514", 3, tokens(1'260'000)},
                             {"<b>odd</b>", 1, tokens(999)}};
    report.lastFiveHours.usage = tokens(999);
    report.today.usage = tokens(1000);
    report.lastSevenDays.usage = tokens(1'260'000);
    report.topProjectsToday = {{"a", "/work/app", "app", tokens(5000)},
                               {"b", std::nullopt, "b-project", tokens(10)},
                               {"c", "", "empty-path", tokens(10)},
                               {"d", "/work/file.txt", "file", tokens(10)}};
    const auto compact = [](std::int64_t n) { return std::to_string(n) + "t"; };
    const auto isDirectory = [](const std::string& path) { return path == "/work/app"; };
    const auto content = PopoverPresenter::history(report, compact, isDirectory);

    ASSERT_EQ(content.models.size(), 2u);
    EXPECT_EQ(content.models[0].label, "claude-opus-4");
    EXPECT_EQ(content.models[0].tokens, "1260000t");
    EXPECT_EQ(content.models[1].label, "<b>odd</b>"); // shown as plain text by the view
    ASSERT_EQ(content.windows.size(), 3u);
    EXPECT_EQ(content.windows[0], (HistoryContent::Line{"5 hours", "999t"}));
    EXPECT_EQ(content.windows[1], (HistoryContent::Line{"Today", "1000t"}));
    EXPECT_EQ(content.windows[2], (HistoryContent::Line{"Week", "1260000t"}));
    ASSERT_EQ(content.projects.size(), 4u);
    EXPECT_EQ(content.projects[0].revealablePath, QStringLiteral("/work/app"));
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_FALSE(content.projects[i].revealablePath) << i;
    }

    const auto empty = PopoverPresenter::history({}, compact, isDirectory);
    EXPECT_TRUE(empty.models.empty());
    EXPECT_TRUE(empty.projects.empty());
    EXPECT_EQ(empty.windows.size(), 3u);
}

TEST(PopoverPresenter, DownloadingPercentIsCutTowardZero) {
    EXPECT_EQ(PopoverPresenter::downloadingText(0.999), "Downloading 99%");
    EXPECT_EQ(PopoverPresenter::downloadingText(1), "Downloading 100%");
    EXPECT_EQ(PopoverPresenter::downloadingText(0), "Downloading 0%");
}

TEST(PopoverPresenter, OnlyWebLinksOpen) {
    for (const char* url : {"https://meterly.app/notes", "HTTP://meterly.app", "HtTpS://x"}) {
        EXPECT_TRUE(PopoverPresenter::isWebURL(url)) << url;
    }
    for (const char* url :
         {"file:///etc/passwd", "mailto:a@b.c", "meterly.app/notes", "", "javascript:alert(1)"}) {
        EXPECT_FALSE(PopoverPresenter::isWebURL(url)) << url;
    }
}

TEST(TrayGauge, FollowsTheTrayWindow) {
    EXPECT_TRUE(TrayGauge::present(std::nullopt, false).isPlaceholder());
    EXPECT_TRUE(TrayGauge::present(window(0.5), true).isPlaceholder());
    EXPECT_EQ(TrayGauge::present(window(1.3), false), (TrayGauge{0.0, false}));
    EXPECT_EQ(TrayGauge::present(window(-0.2), false), (TrayGauge{1.0, false}));
    EXPECT_EQ(TrayGauge::present(window(0.2, "rejected"), false), (TrayGauge{0.8, true}));
    EXPECT_EQ(TrayGauge::present(window(std::numeric_limits<double>::quiet_NaN()), false),
              (TrayGauge{0.0, false}));
}

} // namespace
} // namespace meterly::ui
