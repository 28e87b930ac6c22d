#include "core/UsageSnapshot.hpp"

#include "core/RepresentativeClaim.hpp"
#include "core/UsageSourceEvent.hpp"

#include <gtest/gtest.h>
#include <limits>

using namespace meterly::core;

namespace {

LimitWindow used(double utilization) {
    return {"allowed", utilization, 1000};
}

} // namespace

TEST(UsageSnapshotTest, RepresentativeWindow) {
    enum Pick { none, five, seven };
    struct Case {
        const char* name;
        std::optional<double> fiveHour;
        std::optional<double> sevenDay;
        std::optional<std::string> claim;
        Pick expected;
    };
    const Case cases[] = {
        {"claim names seven-day outright", 0.99, 0.1, "seven_day", seven},
        {"claimed seven-day missing", 0.2, std::nullopt, "seven_day", five},
        {"claimed five-hour missing", std::nullopt, 0.2, "five_hour", seven},
        {"claim names five-hour outright", 0.1, 0.99, "five_hour", five},
        {"claim in capitals is no claim", 0.1, 0.99, "FIVE_HOUR", seven},
        {"unknown claim falls back", 0.9, 0.95, "opus", seven},
        {"less left in seven-day", 0.9, 0.95, std::nullopt, seven},
        {"tie goes to five-hour", 0.9, 0.9, std::nullopt, five},
        {"both clamp to zero", 1.5, 1.2, std::nullopt, five},
        {"only seven-day", std::nullopt, 0.3, std::nullopt, seven},
        {"only five-hour", 0.3, std::nullopt, std::nullopt, five},
        {"neither window", std::nullopt, std::nullopt, std::nullopt, none},
        {"claim without windows", std::nullopt, std::nullopt, "seven_day", none},
    };
    for (const auto& c : cases) {
        UsageSnapshot snapshot;
        if (c.fiveHour) {
            snapshot.fiveHour = used(*c.fiveHour);
        }
        if (c.sevenDay) {
            snapshot.sevenDay = used(*c.sevenDay);
        }
        snapshot.representativeClaim = c.claim;
        auto expected = c.expected == five    ? snapshot.fiveHour
                        : c.expected == seven ? snapshot.sevenDay
                                              : std::nullopt;
        EXPECT_EQ(snapshot.representative(), expected) << c.name;
    }
}

TEST(UsageSnapshotTest, AgeIsNeverNegative) {
    UsageSnapshot snapshot;
    snapshot.capturedAt = 100;
    EXPECT_EQ(snapshot.age(160), 60);
    EXPECT_EQ(snapshot.age(40), 0);
    EXPECT_EQ(snapshot.age(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(UsageSnapshotTest, EqualityComparesEveryField) {
    UsageSnapshot base{used(0.1), used(0.2), "five_hour", "allowed", 50};
    UsageSnapshot same = base;
    EXPECT_EQ(base, same);
    auto changed = [&](auto change) {
        UsageSnapshot other = base;
        change(other);
        return other;
    };
    EXPECT_NE(base, changed([](UsageSnapshot& s) { s.overageStatus = "rejected"; }));
    EXPECT_NE(base, changed([](UsageSnapshot& s) { s.overageStatus.reset(); }));
    EXPECT_NE(base, changed([](UsageSnapshot& s) { s.capturedAt = 51; }));
    EXPECT_NE(base, changed([](UsageSnapshot& s) { s.sevenDay.reset(); }));
    EXPECT_NE(base, changed([](UsageSnapshot& s) { s.representativeClaim = "seven_day"; }));
}

TEST(UsageSnapshotTest, ClaimTextsRoundTripExactly) {
    EXPECT_EQ(representativeClaimFromText("five_hour"), RepresentativeClaim::fiveHour);
    EXPECT_EQ(representativeClaimFromText("seven_day"), RepresentativeClaim::sevenDay);
    for (const char* other : {"Five_hour", "seven_day ", "", "five-hour"}) {
        EXPECT_EQ(representativeClaimFromText(other), std::nullopt) << other;
    }
    EXPECT_EQ(representativeClaimText(RepresentativeClaim::fiveHour), "five_hour");
    EXPECT_EQ(representativeClaimText(RepresentativeClaim::sevenDay), "seven_day");
}

TEST(UsageSnapshotTest, EventsCompareByCaseAndPayload) {
    UsageSnapshot snapshot{used(0.1), std::nullopt, std::nullopt, std::nullopt, 7};
    auto status = UsageSourceEvent::status(snapshot, 3, 7.0);
    EXPECT_EQ(status, UsageSourceEvent::status(snapshot, 3, 7.0));
    EXPECT_NE(status, UsageSourceEvent::status(snapshot, 4, 7.0));
    EXPECT_NE(status, UsageSourceEvent::status(snapshot, 3, std::nullopt));
    EXPECT_NE(status, UsageSourceEvent::status(std::nullopt, 3, 7.0));
    EXPECT_NE(UsageSourceEvent::status(std::nullopt, 3, std::nullopt),
              UsageSourceEvent::unreachable(3));
    EXPECT_EQ(UsageSourceEvent::unreachable(3), UsageSourceEvent::unreachable(3));
    ASSERT_NE(status.asStatus(), nullptr);
    EXPECT_EQ(status.asUnreachable(), nullptr);
    EXPECT_EQ(status.asStatus()->requestsSeen, 3);
}
