#include "core/RateLimitHeaderParser.hpp"

#include "core/AsciiText.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace meterly::core {

namespace {

constexpr std::string_view fiveHourPrefix = "anthropic-ratelimit-unified-5h-";
constexpr std::string_view sevenDayPrefix = "anthropic-ratelimit-unified-7d-";
constexpr std::string_view claimHeader = "anthropic-ratelimit-unified-representative-claim";
constexpr std::string_view overageHeader = "anthropic-ratelimit-unified-overage-status";

// A walk rather than a keyed lookup: the fields are few, and no name is copied to look it up.
const std::string* find(const RateLimitHeaderParser::Headers& headers, std::string_view name) {
    for (const auto& [key, value] : headers) {
        if (key == name) {
            return &value;
        }
    }
    return nullptr;
}

// `prefix` followed by `suffix`, in `buffer`.
template <std::size_t Size>
std::string_view joined(std::array<char, Size>& buffer, std::string_view prefix,
                        std::string_view suffix) {
    const std::size_t size = prefix.size() + suffix.size();
    if (size > Size) {
        return {};
    }
    std::copy(prefix.begin(), prefix.end(), buffer.begin());
    std::copy(suffix.begin(), suffix.end(),
              buffer.begin() + static_cast<std::ptrdiff_t>(prefix.size()));
    return {buffer.data(), size};
}

bool hasUpperCaseASCII(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
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
    std::array<char, 64> name{};
    const std::string* utilization = find(lowered, joined(name, prefix, "utilization"));
    if (utilization == nullptr) {
        return std::nullopt;
    }
    auto used = number(*utilization);
    if (!used) {
        return std::nullopt;
    }
    const std::string* reset = find(lowered, joined(name, prefix, "reset"));
    if (reset == nullptr) {
        return std::nullopt;
    }
    auto resetAt = number(*reset);
    if (!resetAt) {
        return std::nullopt;
    }
    const std::string* status = find(lowered, joined(name, prefix, "status"));
    return LimitWindow{status ? *status : std::string("unknown"), *used, *resetAt};
}

std::optional<UsageSnapshot> RateLimitHeaderParser::parse(const Headers& headers, Date capturedAt) {
    // Names that are lower-case already (the proxy's own fields) are read as they stand.
    const bool lowerCase = std::none_of(headers.begin(), headers.end(), [](const auto& field) {
        return hasUpperCaseASCII(field.first);
    });
    Headers copy;
    if (!lowerCase) {
        for (const auto& [name, value] : headers) {
            // Of two names that lower-case alike, the one met later wins.
            // ASCII letters only: the names looked up are plain ASCII, and no other character
            // lower-cases to one of their letters, so this finds exactly what full lower-casing
            // would.
            copy[ascii::lowercased(name)] = value;
        }
    }
    const Headers& byLowerName = lowerCase ? headers : copy;
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
