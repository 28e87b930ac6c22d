#include "core/InternetDateParser.hpp"

#include <gtest/gtest.h>

namespace meterly::core {
namespace {

using Fraction = InternetDateParser::Fraction;

struct DateCase {
    const char* text;
    std::optional<double> withFraction;
    std::optional<double> withoutFraction;
};

TEST(InternetDateParserTest, ReadsEachFormOnlyWithItsParser) {
    const DateCase cases[] = {
        {"2025-06-01T12:34:56.789Z", 1748781296.789, std::nullopt},
        {"2025-06-01T12:34:56Z", std::nullopt, 1748781296.0},
        {"2025-06-01T12:34:56.7Z", 1748781296.7, std::nullopt},
        {"2025-06-01T12:34:56.123456789Z", 1748781296.123456789, std::nullopt},
        // The offset is applied: 14:34:56 at +02:00 is 12:34:56 in UTC.
        {"2025-06-01T14:34:56+02:00", std::nullopt, 1748781296.0},
        {"2025-06-01T10:04:56.5-02:30", 1748781296.5, std::nullopt},
        {"2024-02-29T00:00:00Z", std::nullopt, 1709164800.0},
        {"1969-12-31T23:59:59Z", std::nullopt, -1.0},
        {"2000-01-01T00:00:00+00:00", std::nullopt, 946684800.0},
        // Malformed or out of range for both.
        {"2025-06-01 12:34:56", std::nullopt, std::nullopt},
        {"2025-06-01T12:34:56", std::nullopt, std::nullopt},
        {"2025-06-01t12:34:56z", std::nullopt, std::nullopt},
        {"2025-06-01T12:34:56.Z", std::nullopt, std::nullopt},
        {"2025-06-01T12:34:56Z ", std::nullopt, std::nullopt},
        {" 2025-06-01T12:34:56Z", std::nullopt, std::nullopt},
        {"2025-6-01T12:34:56Z", std::nullopt, std::nullopt},
        {"2025-13-01T12:34:56Z", std::nullopt, std::nullopt},
        {"2025-02-29T12:34:56Z", std::nullopt, std::nullopt},
        {"2025-06-31T12:34:56Z", std::nullopt, std::nullopt},
        {"2025-06-01T24:00:00Z", std::nullopt, std::nullopt},
        {"2025-06-01T12:60:00Z", std::nullopt, std::nullopt},
        {"2025-06-01T12:34:60Z", std::nullopt, std::nullopt},
        {"2025-06-01T12:34:56+0200", std::nullopt, std::nullopt},
        {"2025-06-01T12:34:56+2:00", std::nullopt, std::nullopt},
        {"2025-06-01T12:34:56+24:00", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
    };
    const InternetDateParser fractional(Fraction::required);
    const InternetDateParser plain(Fraction::absent);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto a = fractional.date(c.text);
        const auto b = plain.date(c.text);
        ASSERT_EQ(a.has_value(), c.withFraction.has_value());
        ASSERT_EQ(b.has_value(), c.withoutFraction.has_value());
        if (a) {
            EXPECT_NEAR(*a, *c.withFraction, 1e-6);
        }
        if (b) {
            EXPECT_EQ(*b, *c.withoutFraction);
        }
    }
}

} // namespace
} // namespace meterly::core
