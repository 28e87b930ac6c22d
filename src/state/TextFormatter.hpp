#pragma once

#include "core/Environment.hpp"
#include "core/Time.hpp"

#include <cstdint>
#include <memory>
#include <string>

namespace meterly::state {

// The clock patterns the views use.
enum class ClockPattern {
    hourMinute,        // "h:mm a": 4:05 PM
    weekdayHourMinute, // "EEE h:mm a": Tue 4:05 PM
    hourMinute24,      // "HH:mm": 16:05
};

// Date and number texts in the user's locale and time zone, as the views show them. The locale
// comes from LC_ALL, else LC_TIME, else LANG ("C", "POSIX" or nothing give plain English); the time
// zone from TZ, else the system's (/etc/localtime). Both are read once, at construction.
//
// Dates that are not a number give an empty text; dates beyond about ±275,000 years are clamped
// to that range. Not thread-safe: keep one per thread (the main executor's, in the app).
class TextFormatter {
public:
    explicit TextFormatter(const core::EnvironmentLookup& environment = core::processEnvironment());
    ~TextFormatter();
    TextFormatter(const TextFormatter&) = delete;
    TextFormatter& operator=(const TextFormatter&) = delete;

    // `date` with one of the clock patterns.
    std::string clock(core::Date date, ClockPattern pattern) const;

    // Whether both dates fall on the same calendar day in the time zone. False when either is not
    // a number.
    bool sameDay(core::Date a, core::Date b) const;

    // `date` against `reference` in full units, in the largest calendar unit that is not zero
    // (years, months, weeks, days, hours, minutes, seconds): "2 minutes ago", "in 3 hours",
    // "in 0 seconds" for the same second.
    std::string relative(core::Date date, core::Date reference) const;

    // A share as a whole percentage: clamped to 0...1 first (not a number counts as 0), then
    // times 100 rounded to the nearest integer, halves away from zero.
    static std::int64_t roundedPercent(double share);
    // roundedPercent followed by "%": 0.448 gives "45%".
    static std::string percentText(double share);

    // The locale and time zone identifiers in use ("en_US", "America/New_York").
    std::string localeName() const;
    std::string timeZoneName() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace meterly::state
