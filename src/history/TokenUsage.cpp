#include "history/TokenUsage.hpp"

#include <limits>

namespace meterly::history {

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) {
        return sum;
    }
    return b > 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
}

std::int64_t TokenUsage::totalTokens() const {
    return saturatingAdd(uncachedTokens(), cacheReadInputTokens);
}

std::int64_t TokenUsage::uncachedTokens() const {
    return saturatingAdd(saturatingAdd(inputTokens, outputTokens), cacheCreationInputTokens);
}

double TokenUsage::cacheHitRatio() const {
    const std::int64_t total = totalTokens();
    if (total < 1) {
        return 0.0;
    }
    return static_cast<double>(cacheReadInputTokens) / static_cast<double>(total);
}

TokenUsage& TokenUsage::operator+=(const TokenUsage& other) {
    // Every field is computed before any is stored, so `usage += usage` is well defined.
    const TokenUsage sum{saturatingAdd(inputTokens, other.inputTokens),
                         saturatingAdd(outputTokens, other.outputTokens),
                         saturatingAdd(cacheCreationInputTokens, other.cacheCreationInputTokens),
                         saturatingAdd(cacheReadInputTokens, other.cacheReadInputTokens)};
    *this = sum;
    return *this;
}

} // namespace meterly::history

std::size_t std::hash<meterly::history::TokenUsage>::operator()(
    const meterly::history::TokenUsage& usage) const noexcept {
    // Combine the four counts in field order.
    std::size_t seed = 0;
    for (const std::int64_t value : {usage.inputTokens, usage.outputTokens,
                                     usage.cacheCreationInputTokens, usage.cacheReadInputTokens}) {
        seed ^=
            std::hash<std::int64_t>{}(value) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    }
    return seed;
}
