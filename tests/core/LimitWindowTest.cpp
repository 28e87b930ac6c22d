#include "core/LimitWindow.hpp"

#include <gtest/gtest.h>
#include <limits>

using namespace meterly::core;

namespace {
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
} // namespace

TEST(LimitWindowTest, RemainingFractionClampsToZeroThroughOne) {
    const std::pair<double, double> cases[] = {
        {0.25, 0.75}, {1, 0}, {1.2, 0}, {-0.5, 1}, {0, 1}, {nan, 0}, {inf, 0}, {-inf, 1},
    };
    for (auto [utilization, remaining] : cases) {
        EXPECT_EQ((LimitWindow{"allowed", utilization, 0}.remainingFraction()), remaining)
            << "utilization " << utilization;
    }
}

TEST(LimitWindowTest, OnlyTheExactWordAllowedAdmitsRequests) {
    const std::pair<const char*, bool> cases[] = {
        {"allowed", true},   {"unknown", false}, {"Allowed", false},
        {"allowed ", false}, {"", false},        {"rejected", false},
    };
    for (auto [status, allowed] : cases) {
        EXPECT_EQ((LimitWindow{status, 0, 0}.isAllowed()), allowed) << '"' << status << '"';
    }
}

TEST(LimitWindowTest, TimeRemainingIsNeverNegative) {
    LimitWindow window{"allowed", 0.1, 1000};
    EXPECT_EQ(window.timeRemaining(400), 600);
    EXPECT_EQ(window.timeRemaining(1000), 0);
    EXPECT_EQ(window.timeRemaining(1500), 0);
    EXPECT_EQ((LimitWindow{"allowed", 0.1, nan}.timeRemaining(0)), 0);
}

TEST(LimitWindowTest, EqualityComparesEveryField) {
    LimitWindow window{"allowed", 0.5, 100};
    EXPECT_EQ(window, (LimitWindow{"allowed", 0.5, 100}));
    EXPECT_NE(window, (LimitWindow{"Allowed", 0.5, 100}));
    EXPECT_NE(window, (LimitWindow{"allowed", 0.6, 100}));
    EXPECT_NE(window, (LimitWindow{"allowed", 0.5, 101}));
    LimitWindow notANumber{"allowed", nan, 100};
    EXPECT_NE(notANumber, notANumber);
}
