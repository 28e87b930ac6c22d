#include "ui/settings/CopiedMarks.hpp"

#include "support/VirtualTimeExecutor.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace meterly::ui {
namespace {

// Presses at given times, then what the marks say at the end.
TEST(CopiedMarksTest, EachMarkStandsTwoSecondsAfterItsLastPress) {
    struct Press {
        core::Seconds at;
        std::optional<std::string> path; // none: the summary
    };
    struct Case {
        std::string name;
        std::vector<Press> presses;
        core::Seconds end;
        bool summary;
        std::optional<std::string> path;
        int expiries;
    };
    const Case cases[] = {
        {"summary, just before", {{0, {}}}, 1.9, true, {}, 0},
        {"summary, after", {{0, {}}}, 2.1, false, {}, 1},
        {"summary pressed again", {{0, {}}, {1.5, {}}}, 3, true, {}, 0},
        {"path, just before", {{0, "/a"}}, 1.9, false, "/a", 0},
        {"path, after", {{0, "/a"}}, 2.1, false, {}, 1},
        {"second path takes the mark", {{0, "/a"}, {1, "/b"}}, 2.5, false, "/b", 0},
        {"second path ends on its own", {{0, "/a"}, {1, "/b"}}, 3.1, false, {}, 1},
        {"path pressed again", {{0, "/a"}, {1.5, "/a"}}, 3, false, "/a", 0},
        {"summary and path apart", {{0, {}}, {1, "/a"}}, 2.5, false, "/a", 1},
    };
    for (const auto& c : cases) {
        state::VirtualTimeExecutor main;
        int expiries = 0;
        CopiedMarks marks(main, [&] { ++expiries; });
        core::Seconds at = 0;
        for (const auto& press : c.presses) {
            main.advance(press.at - at);
            at = press.at;
            if (press.path) {
                marks.copiedPath(*press.path);
            } else {
                marks.copiedSummary();
            }
        }
        main.advance(c.end - at);
        EXPECT_EQ(marks.summary(), c.summary) << c.name;
        EXPECT_EQ(marks.path(), c.path) << c.name;
        EXPECT_EQ(expiries, c.expiries) << c.name;
    }
}

TEST(CopiedMarksTest, KeepsOneTimerPerPathAndCancelsThemWhenGone) {
    state::VirtualTimeExecutor main;
    {
        CopiedMarks marks(main, [] {});
        for (int i = 0; i < 5; ++i) {
            marks.copiedPath("/a");
            marks.copiedSummary();
            main.advance(0.5);
        }
        marks.copiedPath("/b");
        EXPECT_EQ(marks.pendingTimers(), 3u);
        EXPECT_EQ(main.pendingTimers(), 3u);
    }
    EXPECT_EQ(main.pendingTimers(), 0u);
}

} // namespace
} // namespace meterly::ui
