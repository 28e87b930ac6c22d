#pragma once

#include "core/Time.hpp"

#include <cstdint>
#include <memory>
#include <optional>

namespace meterly::history {

// The calendar that hours and days are counted in. Every answer may be none, for times the
// calendar cannot represent (not finite, or out of its range).
class Calendar {
public:
    virtual ~Calendar() = default;

    // The first instant of the clock hour that holds `date`.
    virtual std::optional<core::Date> startOfHour(core::Date date) const = 0;
    // The first instant of the calendar day that holds `date`.
    virtual std::optional<core::Date> startOfDay(core::Date date) const = 0;
    // `date` moved by `hours` elapsed hours.
    virtual std::optional<core::Date> addingHours(core::Date date, std::int64_t hours) const;
};

// The user's calendar in the process's time zone (TZ), read afresh at every use.
class LocalCalendar final : public Calendar {
public:
    std::optional<core::Date> startOfHour(core::Date date) const override;
    std::optional<core::Date> startOfDay(core::Date date) const override;
};

// A local calendar (it keeps no state).
std::shared_ptr<const Calendar> localCalendar();

} // namespace meterly::history
