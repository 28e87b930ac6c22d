#include "update/RolloutGate.hpp"

#include <cmath>
#include <gtest/gtest.h>

namespace meterly::update {
namespace {

constexpr core::Date start = 1'772'355'600; // 2026-03-01T09:00:00Z
constexpr core::Seconds hour = 3600;

UpdateInfo rollout(std::optional<double> phaseHours, std::optional<std::string> startedAt,
                   std::optional<bool> critical = std::nullopt) {
    UpdateInfo info{"2.0", "https://meterly.app/x"};
    info.rolloutPhaseHours = phaseHours;
    info.rolloutStartedAt = std::move(startedAt);
    info.critical = critical;
    return info;
}

TEST(RolloutGateTest, OpensForEachBucketItsShareOfThePhaseAfterTheStart) {
    struct Case {
        UpdateInfo info;
        double bucket;
        core::Date now;
        bool open;
    };
    const std::string began = "2026-03-01T09:00:00Z";
    const Case cases[] = {
        {rollout(48, began), 0.25, start + 12 * hour - 1, false},
        {rollout(48, began), 0.25, start + 12 * hour, true},
        {rollout(48, began), 0, start, true},
        {rollout(48, began), 0, start - 1, false},
        {rollout(48, began), 0.999, start + 47.9 * hour, false},
        {rollout(48, began), 0.999, start + 47.96 * hour, true},
        {rollout(48, began), -3, start, true},
        {rollout(48, began), 7, start + 48 * hour - 1, false},
        {rollout(48, began), 7, start + 48 * hour, true},
        {rollout(0, began), 0.9, start - 100 * hour, true},
        {rollout(-5, began), 0.9, start - 100 * hour, true},
        {rollout(std::nan(""), began), 0.9, start - 100 * hour, true},
        {rollout(std::nullopt, began), 0.9, start - 100 * hour, true},
        {rollout(48, std::nullopt), 0.9, 0, true},
        {rollout(48, "2026-03-01T09:00:00.000Z"), 0.9, 0, true},
        {rollout(48, "2030-01-01T00:00:00Z", true), 0.9, start, true},
        {rollout(24, began, false), 0.5, start + 11 * hour, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(RolloutGate::isOpen(c.info, c.bucket, c.now), c.open) << "case " << i;
    }
}

TEST(RolloutGateTest, NewBucketsLieInTheHalfOpenUnitRange) {
    for (int i = 0; i < 1000; ++i) {
        const double bucket = RolloutGate::newBucket();
        EXPECT_GE(bucket, 0.0);
        EXPECT_LT(bucket, 1.0);
    }
}

} // namespace
} // namespace meterly::update
