#pragma once

#include "core/LimitWindow.hpp"
#include "core/Time.hpp"
#include "core/UsageSnapshot.hpp"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::core {

// Turns the rate-limit header fields of one upstream response into a usage snapshot.
class RateLimitHeaderParser {
public:
    using Headers = std::map<std::string, std::string>;

    // The snapshot of `headers` (names in any letter case), stamped `capturedAt`; nullopt when
    // neither window is complete. Never fails.
    static std::optional<UsageSnapshot> parse(const Headers& headers, Date capturedAt);

    // The value of a utilization or reset header: one whole floating-point literal as the C
    // library reads it in the "C" locale (optional sign, decimal digits with optional fraction and
    // exponent, or the hexadecimal form), nothing before or after it. nullopt for anything else,
    // and for a value that is not finite, overflows, or underflows to zero.
    static std::optional<double> number(std::string_view text);

    RateLimitHeaderParser() = delete;

private:
    static std::optional<LimitWindow> window(std::string_view prefix, const Headers& lowered);
};

} // namespace meterly::core
