#include "ui/popover/PopoverPresenter.hpp"

#include <gtest/gtest.h>

namespace meterly::ui {
namespace {

// Friday 2027-01-15, 15:00 UTC.
constexpr core::Date now = 1'800'000'000 + 7 * 3600;

core::EnvironmentLookup englishUTC() {
    return [](std::string_view name) -> std::optional<std::string> {
        if (name == "LANG") {
            return "en_US.UTF-8";
        }
        if (name == "TZ") {
            return "UTC";
        }
        return std::nullopt;
    };
}

using Slot = state::SessionSlot;
using Kind = SessionGateContent::Slot::Kind;

TEST(SessionGatePresenter, CountCaptionAndSlots) {
    const state::TextFormatter formatter(englishUTC());
    struct Case {
        const char* name;
        state::SessionGate gate;
        const char* count;
        const char* caption;
    };
    const Case cases[] = {
        {"running window, one more today",
         {{{0, Slot::Spent{}},
           {1, Slot::Active{0.57}},
           {2, Slot::Available{now + 9000}},
           {3, Slot::OutOfReach{}}},
          now + 9000,
          now + 9000,
          1,
          4},
         "2/4",
         "next window not before 5:30 PM"},
        {"no room left",
         {{{0, Slot::Spent{}},
           {1, Slot::Spent{}},
           {2, Slot::OutOfReach{}},
           {3, Slot::OutOfReach{}}},
          std::nullopt,
          now,
          2,
          4},
         "0/4",
         "no room for another window today"},
        {"free to start",
         {{{0, Slot::Available{now}},
           {1, Slot::OutOfReach{}},
           {2, Slot::OutOfReach{}},
           {3, Slot::OutOfReach{}}},
          std::nullopt,
          now,
          0,
          4},
         "1/4",
         "start now → resets 8:00 PM"},
        {"reset after midnight",
         {{{0, Slot::Active{0.1}}, {1, Slot::OutOfReach{}}},
          now + 10 * 3600,
          now + 10 * 3600,
          0,
          4},
         "1/4",
         "next window not before Sat 1:00 AM"},
    };
    for (const auto& c : cases) {
        const auto content = PopoverPresenter::sessionGate(c.gate, now, formatter);
        EXPECT_EQ(content.countText, c.count) << c.name;
        EXPECT_EQ(content.caption, QString::fromUtf8(c.caption)) << c.name;
    }
    const auto first = PopoverPresenter::sessionGate(cases[0].gate, now, formatter);
    ASSERT_EQ(first.sessionSlots.size(), 4u);
    EXPECT_EQ(first.sessionSlots[0].kind, Kind::spent);
    EXPECT_EQ(first.sessionSlots[1].kind, Kind::active);
    EXPECT_DOUBLE_EQ(first.sessionSlots[1].remaining, 0.57);
    EXPECT_EQ(first.sessionSlots[2].kind, Kind::available);
    EXPECT_EQ(first.sessionSlots[3].kind, Kind::outOfReach);
}

} // namespace
} // namespace meterly::ui
