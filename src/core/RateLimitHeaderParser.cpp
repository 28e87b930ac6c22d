#include "core/RateLimitHeaderParser.hpp"

#include "core/AsciiText.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace meterly::core {

namespace {

constexpr std::string_view prefix = "anthropic-ratelimit-unified-";
// What follows the prefix, by position in RateLimitHeaderParser::Field.
constexpr std::array<std::string_view, RateLimitHeaderParser::fieldCount> suffixes = {
    "5h-utilization",       "5h-reset",       "5h-status",
    "7d-utilization",       "7d-reset",       "7d-status",
    "representative-claim", "overage-status",
};

// True when `text` lower-cases (ASCII letters only) to `lower`.
bool matchesLowerCase(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) {
        return false;
    }
    if (text == lower) {
        // The usual spelling, compared many bytes at a time.
        return true;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (ascii::lowered(text[i]) != lower[i]) {
            return false;
        }
    }
    return true;
}

std::optional<std::string_view> valueOf(const RateLimitHeaderParser::Fields& fields,
                                        RateLimitHeaderParser::Field field) {
    return fields[static_cast<std::size_t>(field)];
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

std::optional<RateLimitHeaderParser::Field> RateLimitHeaderParser::field(std::string_view name) {
    // ASCII letters only: the names are plain ASCII, and no other byte lower-cases to one of
    // their letters here.
    if (name.size() <= prefix.size() || !matchesLowerCase(name.substr(0, prefix.size()), prefix)) {
        return std::nullopt;
    }
    const std::string_view suffix = name.substr(prefix.size());
    for (std::size_t i = 0; i < suffixes.size(); ++i) {
        // The first letter rules out most suffixes before their bytes are compared.
        if (ascii::lowered(suffix[0]) == suffixes[i][0] && matchesLowerCase(suffix, suffixes[i])) {
            return static_cast<Field>(i);
        }
    }
    return std::nullopt;
}

std::optional<LimitWindow>
RateLimitHeaderParser::window(std::optional<std::string_view> utilization,
                              std::optional<std::string_view> reset,
                              std::optional<std::string_view> status) {
    if (!utilization || !reset) {
        return std::nullopt;
    }
    auto used = number(*utilization);
    if (!used) {
        return std::nullopt;
    }
    auto resetAt = number(*reset);
    if (!resetAt) {
        return std::nullopt;
    }
    return LimitWindow{status ? std::string(*status) : std::string("unknown"), *used, *resetAt};
}

std::optional<UsageSnapshot> RateLimitHeaderParser::parse(const Headers& headers, Date capturedAt) {
    Fields fields{};
    for (const auto& [name, value] : headers) {
        // Of two names that lower-case alike, the one met later wins.
        if (const auto which = field(name)) {
            fields[static_cast<std::size_t>(*which)] = value;
        }
    }
    return parse(fields, capturedAt);
}

std::optional<UsageSnapshot> RateLimitHeaderParser::parse(const Fields& fields, Date capturedAt) {
    auto fiveHour =
        window(valueOf(fields, Field::fiveHourUtilization), valueOf(fields, Field::fiveHourReset),
               valueOf(fields, Field::fiveHourStatus));
    auto sevenDay =
        window(valueOf(fields, Field::sevenDayUtilization), valueOf(fields, Field::sevenDayReset),
               valueOf(fields, Field::sevenDayStatus));
    if (!fiveHour && !sevenDay) {
        return std::nullopt;
    }
    UsageSnapshot snapshot;
    snapshot.fiveHour = std::move(fiveHour);
    snapshot.sevenDay = std::move(sevenDay);
    if (const auto claim = valueOf(fields, Field::representativeClaim)) {
        snapshot.representativeClaim = std::string(*claim);
    }
    if (const auto overage = valueOf(fields, Field::overageStatus)) {
        snapshot.overageStatus = std::string(*overage);
    }
    snapshot.capturedAt = capturedAt;
    return snapshot;
}

} // namespace meterly::core
