#pragma once

#include "core/LimitWindow.hpp"
#include "core/Time.hpp"
#include "core/UsageSnapshot.hpp"

#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::core {

// Turns the rate-limit header fields of one upstream response into a usage snapshot.
class RateLimitHeaderParser {
public:
    using Headers = std::map<std::string, std::string>;

    // The fields that usage is read from.
    enum class Field : std::size_t {
        fiveHourUtilization,
        fiveHourReset,
        fiveHourStatus,
        sevenDayUtilization,
        sevenDayReset,
        sevenDayStatus,
        representativeClaim,
        overageStatus,
    };
    static constexpr std::size_t fieldCount = 8;
    // The value of each field by its position in Field; none where the response had none.
    using Fields = std::array<std::optional<std::string_view>, fieldCount>;

    // The field a header name stands for, ASCII letters compared in either case; nullopt for
    // every other name.
    static std::optional<Field> field(std::string_view name);

    // The snapshot of `headers` (names in any letter case), stamped `capturedAt`; nullopt when
    // neither window is complete. Never fails.
    static std::optional<UsageSnapshot> parse(const Headers& headers, Date capturedAt);
    // The same from the fields already picked out of a response.
    static std::optional<UsageSnapshot> parse(const Fields& fields, Date capturedAt);

    // The value of a utilization or reset header: one whole floating-point literal as the C
    // library reads it in the "C" locale (optional sign, decimal digits with optional fraction and
    // exponent, or the hexadecimal form), nothing before or after it. nullopt for anything else,
    // and for a value that is not finite, overflows, or underflows to zero.
    static std::optional<double> number(std::string_view text);

    RateLimitHeaderParser() = delete;

private:
    static std::optional<LimitWindow> window(std::optional<std::string_view> utilization,
                                             std::optional<std::string_view> reset,
                                             std::optional<std::string_view> status);
};

} // namespace meterly::core
