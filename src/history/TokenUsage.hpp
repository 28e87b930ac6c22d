#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace meterly::history {

// The four token counts of one assistant response, or the sum of many. Sums saturate at the
// ends of the signed 64-bit range instead of overflowing.
struct TokenUsage {
    std::int64_t inputTokens = 0;
    std::int64_t outputTokens = 0;
    std::int64_t cacheCreationInputTokens = 0;
    std::int64_t cacheReadInputTokens = 0;

    static constexpr TokenUsage zero() { return {}; }

    // All four counts added up.
    std::int64_t totalTokens() const;
    // Input, output and cache creation; cache reads are left out.
    std::int64_t uncachedTokens() const;
    // The sum is 0 (not each field).
    bool isEmpty() const { return totalTokens() == 0; }
    // Share of cache reads in the total; 0 when the total is below 1.
    double cacheHitRatio() const;

    TokenUsage& operator+=(const TokenUsage& other);
    friend TokenUsage operator+(TokenUsage lhs, const TokenUsage& rhs) { return lhs += rhs; }
    friend bool operator==(const TokenUsage&, const TokenUsage&) = default;
};

// Adds without leaving the signed 64-bit range: a sum past either end stays at that end.
std::int64_t saturatingAdd(std::int64_t a, std::int64_t b);

} // namespace meterly::history

template <>
struct std::hash<meterly::history::TokenUsage> {
    std::size_t operator()(const meterly::history::TokenUsage& usage) const noexcept;
};
