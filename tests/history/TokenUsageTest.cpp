#include "history/TokenUsage.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <unordered_set>

namespace meterly::history {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

struct DerivedCase {
    TokenUsage usage;
    std::int64_t total;
    std::int64_t uncached;
    bool empty;
    double hitRatio;
};

TEST(TokenUsageTest, DerivedValues) {
    const DerivedCase cases[] = {
        {TokenUsage::zero(), 0, 0, true, 0.0},
        {{10, 20, 30, 40}, 100, 60, false, 0.4},
        {{0, 0, 0, 5}, 5, 0, false, 1.0},
        // isEmpty looks at the sum, and a sum below 1 gives no ratio.
        {{5, -5, 0, 0}, 0, 0, true, 0.0},
        {{0, 0, -3, 1}, -2, -3, false, 0.0},
        // Sums stop at the ends of the range instead of wrapping.
        {{kMax, 1, 0, 0}, kMax, kMax, false, 0.0},
        {{0, 0, 1, kMax}, kMax, 1, false, 1.0},
        {{kMin, -1, 0, 0}, kMin, kMin, false, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.usage.inputTokens << "," << c.usage.outputTokens << ","
                     << c.usage.cacheCreationInputTokens << "," << c.usage.cacheReadInputTokens);
        EXPECT_EQ(c.usage.totalTokens(), c.total);
        EXPECT_EQ(c.usage.uncachedTokens(), c.uncached);
        EXPECT_EQ(c.usage.isEmpty(), c.empty);
        EXPECT_DOUBLE_EQ(c.usage.cacheHitRatio(), c.hitRatio);
    }
}

TEST(TokenUsageTest, AdditionIsFieldByField) {
    const TokenUsage a{1, 2, 3, 4};
    const TokenUsage b{10, 20, 30, 40};
    EXPECT_EQ(a + b, (TokenUsage{11, 22, 33, 44}));
    TokenUsage c = a;
    c += b;
    EXPECT_EQ(c, (TokenUsage{11, 22, 33, 44}));
    c += c;
    EXPECT_EQ(c, (TokenUsage{22, 44, 66, 88}));
}

TEST(TokenUsageTest, AdditionSaturatesPerField) {
    TokenUsage usage{kMax - 1, 7, kMin + 1, 0};
    usage += TokenUsage{5, 1, -5, kMax};
    EXPECT_EQ(usage, (TokenUsage{kMax, 8, kMin, kMax}));
    usage += TokenUsage{1, 0, 0, 1};
    EXPECT_EQ(usage, (TokenUsage{kMax, 8, kMin, kMax}));
}

TEST(TokenUsageTest, EqualityAndHashingCoverEveryField) {
    const TokenUsage base{1, 2, 3, 4};
    const TokenUsage variants[] = {
        {9, 2, 3, 4}, {1, 9, 3, 4}, {1, 2, 9, 4}, {1, 2, 3, 9}, {4, 3, 2, 1}};
    std::unordered_set<TokenUsage> set{base};
    for (const auto& v : variants) {
        EXPECT_NE(v, base);
        set.insert(v);
    }
    EXPECT_EQ(set.size(), 6u);
    EXPECT_EQ(std::hash<TokenUsage>{}(base), std::hash<TokenUsage>{}(TokenUsage{1, 2, 3, 4}));
}

} // namespace
} // namespace meterly::history
