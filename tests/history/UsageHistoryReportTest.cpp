#include "history/UsageHistoryReport.hpp"

#include <gtest/gtest.h>

namespace meterly::history {
namespace {

TEST(UsageHistoryReportTest, ProjectDisplayNames) {
    struct Case {
        std::optional<std::string> path;
        std::string expected;
    };
    const Case cases[] = {
        {"/Users/a/code/app", "app"},
        {"/Users/a/code/app/", "app"},
        {"/", "/"},
        {"relative", "relative"},
        {"", "-Users-a-code-app"},
        {std::nullopt, "-Users-a-code-app"},
    };
    for (const auto& c : cases) {
        ProjectUsage project;
        project.projectID = "-Users-a-code-app";
        project.projectPath = c.path;
        EXPECT_EQ(project.displayName(), c.expected) << c.path.value_or("(none)");
    }
}

TEST(UsageHistoryReportTest, RowIdentifiers) {
    ProjectSpend a{"folder", "/repo/one", "one", {}};
    ProjectSpend b{"folder", "/repo/two", "two", {}};
    ProjectSpend none{"folder", std::nullopt, "folder", {}};
    EXPECT_NE(a.id(), b.id());
    EXPECT_EQ(none.id(), "folder");
    EXPECT_EQ((RequestBucket{3600, 1, 2}).id(), 3600);
}

TEST(UsageHistoryReportTest, EqualityCoversTimeAndOrder) {
    UsageHistoryReport one;
    one.generatedAt = 100;
    one.models = {{"a", 1, {1, 0, 0, 0}}, {"b", 1, {1, 0, 0, 0}}};
    UsageHistoryReport same = one;
    EXPECT_EQ(one, same);
    same.generatedAt = 101;
    EXPECT_NE(one, same);
    UsageHistoryReport reordered = one;
    std::swap(reordered.models[0], reordered.models[1]);
    EXPECT_NE(one, reordered);
}

} // namespace
} // namespace meterly::history
