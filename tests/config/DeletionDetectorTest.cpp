#include "config/DeletionDetector.hpp"

#include <gtest/gtest.h>

namespace meterly::config {
namespace {

using Verdict = DeletionDetector::Verdict;
const Verdict present = DeletionDetector::Present{};
const Verdict confirmed = DeletionDetector::ConfirmedDeleted{};
Verdict suspicious(int misses) {
    return DeletionDetector::Suspicious{misses};
}

TEST(DeletionDetectorTest, OnlyMissesInARowConfirmTheDeletion) {
    DeletionDetector detector(3);
    const std::pair<bool, Verdict> steps[] = {
        {true, suspicious(1)}, {true, suspicious(2)}, {false, present},
        {true, suspicious(1)}, {true, suspicious(2)}, {true, confirmed},
        {true, confirmed},     {false, present},      {true, suspicious(1)},
    };
    for (const auto& [missing, verdict] : steps) {
        EXPECT_EQ(detector.record(missing), verdict);
    }
    EXPECT_EQ(detector.requiredMisses(), 3);
}

TEST(DeletionDetectorTest, ZeroOrOneRequiredMissesConfirmAtTheFirstMiss) {
    for (int required : {0, 1}) {
        DeletionDetector detector(required);
        EXPECT_EQ(detector.record(false), present);
        EXPECT_EQ(detector.record(true), confirmed);
        EXPECT_EQ(detector.record(true), confirmed);
    }
}

TEST(DeletionDetectorTest, DetectorsCompareByThresholdAndCount) {
    DeletionDetector a(3);
    DeletionDetector b(3);
    EXPECT_EQ(a, b);
    a.record(true);
    EXPECT_NE(a, b);
    b.record(true);
    EXPECT_EQ(a, b);
    EXPECT_NE(DeletionDetector(2), DeletionDetector(3));
}

} // namespace
} // namespace meterly::config
