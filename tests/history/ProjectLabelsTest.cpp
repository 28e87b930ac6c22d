#include "history/ProjectLabels.hpp"

#include <gtest/gtest.h>

namespace meterly::history {
namespace {

struct LabelsCase {
    std::vector<std::string> paths;
    std::vector<std::string> expected;
};

class ProjectLabelsTest : public ::testing::TestWithParam<LabelsCase> {};

TEST_P(ProjectLabelsTest, LengthensOnlyCollidingLabels) {
    EXPECT_EQ(ProjectLabels::labels(GetParam().paths), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProjectLabelsTest,
    ::testing::Values(
        LabelsCase{{"/a/x/app", "/b/y/app"}, {"x/app", "y/app"}},
        LabelsCase{{"/a/x/app", "/b/x/app"}, {"a/x/app", "b/x/app"}},
        // Every member of a colliding group grows, also the one that was unique one level up.
        LabelsCase{{"/x/a/p", "/y/a/p", "/z/b/p"}, {"x/a/p", "y/a/p", "b/p"}},
        LabelsCase{{"/a/b", "/b"}, {"a/b", "b"}}, LabelsCase{{"/a/b", "/a/b"}, {"a/b", "a/b"}},
        LabelsCase{{"/srv/app/", "/home/app"}, {"srv/app", "home/app"}}, LabelsCase{{"/"}, {"/"}},
        LabelsCase{{""}, {""}}, LabelsCase{{"project-id"}, {"project-id"}},
        LabelsCase{{"-Users-me-app", "/Users/me/app"}, {"-Users-me-app", "app"}},
        LabelsCase{{}, {}}));

TEST(ProjectLabelTest, DepthIsClampedToTheComponents) {
    EXPECT_EQ(ProjectLabels::label("/a/b/c", 0), "c");
    EXPECT_EQ(ProjectLabels::label("/a/b/c", -3), "c");
    EXPECT_EQ(ProjectLabels::label("/a/b/c", 2), "b/c");
    EXPECT_EQ(ProjectLabels::label("/a/b/c", 9), "a/b/c");
    EXPECT_EQ(ProjectLabels::label("//", 1), "//");
}

} // namespace
} // namespace meterly::history
