#include "core/RateLimitHeaderParser.hpp"

#include "core/AsciiText.hpp"

#include <charconv>
#include <cmath>
#include <system_error>

namespace meterly::core {

namespace {

constexpr std::string_view fiveHourPrefix = "anthropic-ratelimit-unified-5h-";
constexpr std::string_view sevenDayPrefix = "anthropic-ratelimit-unified-7d-";
constexpr std::string_view claimHeader = "anthropic-ratelimit-unified-representative-claim";
constexpr std::string_view overageHeader = "anthropic-ratelimit-unified-overage-status";

const std::string* find(const RateLimitHeaderParser::Headers& headers, std::string_view name) {
    auto it = headers.find(std::string(name));
    return it == headers.end() ? nullptr : &it->second;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<double> RateLimitHeaderParser::number(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    auto format = std::chars_format::general;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        // std::from_chars takes the hexadecimal form without its "0x".
        format = std::chars_format::hex;
        i += 2;
    }
    // What follows the sign (and prefix) must start the digits: no second sign, no blank, and
    // none of the words for infinity or not-a-number, which are never a usable value.
    if (i >= text.size()) {
        return std::nullopt;
    }
    char first = text[i];
    bool startsDigits =
        format == std::chars_format::hex ? ascii::isHexDigit(first) : isDigit(first);
    if (!startsDigits && first != '.') {
        return std::nullopt;
    }
    double value = 0;
    const char* begin = text.data() + i;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, value, format);
    // Out of range covers both overflow and underflow to zero; subnormal results stay.
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<LimitWindow> RateLimitHeaderParser::window(std::string_view prefix,
                                                         const Headers& lowered) {
    std::string name(prefix);
    const std::string* utilization = find(lowered, name + "utilization");
    if (utilization == nullptr) {
        return std::nullopt;
    }
    auto used = number(*utilization);
    if (!used) {
        return std::nullopt;
    }
    const std::string* reset = find(lowered, name + "reset");
    if (reset == nullptr) {
        return std::nullopt;
    }
    auto resetAt = number(*reset);
    if (!resetAt) {
        return std::nullopt;
    }
    const std::string* status = find(lowered, name + "status");
    return LimitWindow{status ? *status : std::string("unknown"), *used, *resetAt};
}

std::optional<UsageSnapshot> RateLimitHeaderParser::parse(const Headers& headers, Date capturedAt) {
    Headers byLowerName;
    for (const auto& [name, value] : headers) {
        // Of two names that lower-case alike, the one met later wins.
        // ASCII letters only: the names looked up are plain ASCII, and no other character
        // lower-cases to one of their letters, so this finds exactly what full lower-casing would.
        byLowerName[ascii::lowercased(name)] = value;
    }
    auto fiveHour = window(fiveHourPrefix, byLowerName);
    auto sevenDay = window(sevenDayPrefix, byLowerName);
    if (!fiveHour && !sevenDay) {
        return std::nullopt;
    }
    UsageSnapshot snapshot;
    snapshot.fiveHour = std::move(fiveHour);
    snapshot.sevenDay = std::move(sevenDay);
    if (const std::string* claim = find(byLowerName, claimHeader)) {
        snapshot.representativeClaim = *claim;
    }
    if (const std::string* overage = find(byLowerName, overageHeader)) {
        snapshot.overageStatus = *overage;
    }
    snapshot.capturedAt = capturedAt;
    return snapshot;
}

} // namespace meterly::core
