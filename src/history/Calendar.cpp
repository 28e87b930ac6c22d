#include "history/Calendar.hpp"

#include <cmath>
#include <ctime>

namespace meterly::history {

namespace {

// Times beyond a few hundred million years are not calendar times; keeping far inside the range
// of time_t also keeps the conversions below defined.
constexpr double maxSeconds = 1e16;

std::optional<std::time_t> wholeSeconds(core::Date date) {
    if (!std::isfinite(date) || std::fabs(date) > maxSeconds) {
        return std::nullopt;
    }
    return static_cast<std::time_t>(std::floor(date));
}

std::optional<std::tm> local(std::time_t seconds) {
    std::tm fields{};
    if (::localtime_r(&seconds, &fields) == nullptr) {
        return std::nullopt;
    }
    return fields;
}

// A date as whole seconds together with the local clock's reading of them.
struct LocalTime {
    std::time_t seconds;
    std::tm fields;
};

std::optional<LocalTime> localTime(core::Date date) {
    auto seconds = wholeSeconds(date);
    if (!seconds) {
        return std::nullopt;
    }
    auto fields = local(*seconds);
    if (!fields) {
        return std::nullopt;
    }
    return LocalTime{*seconds, *fields};
}

bool sameDay(const std::tm& a, const std::tm& b) {
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday;
}

} // namespace

std::optional<core::Date> Calendar::addingHours(core::Date date, std::int64_t hours) const {
    double moved = date + static_cast<double>(hours) * 3600.0;
    if (!std::isfinite(moved)) {
        return std::nullopt;
    }
    return moved;
}

std::optional<core::Date> LocalCalendar::startOfHour(core::Date date) const {
    auto now = localTime(date);
    if (!now) {
        return std::nullopt;
    }
    return static_cast<core::Date>(now->seconds - now->fields.tm_min * 60 - now->fields.tm_sec);
}

std::optional<core::Date> LocalCalendar::startOfDay(core::Date date) const {
    auto now = localTime(date);
    if (!now) {
        return std::nullopt;
    }
    const std::tm& fields = now->fields;
    std::tm midnight = fields;
    midnight.tm_hour = 0;
    midnight.tm_min = 0;
    midnight.tm_sec = 0;
    midnight.tm_isdst = -1;
    std::time_t start = std::mktime(&midnight);
    auto shown = local(start);
    if (!shown) {
        return std::nullopt;
    }
    // Where the clock skips midnight, mktime may answer an instant of the day before; the day
    // then begins where the clock would have shown midnight, which is the moment of the change.
    if (!sameDay(*shown, fields)) {
        start += 86400 - (shown->tm_hour * 3600 + shown->tm_min * 60 + shown->tm_sec);
        shown = local(start);
        if (!shown || !sameDay(*shown, fields)) {
            return std::nullopt;
        }
    }
    if (start > now->seconds) {
        return std::nullopt;
    }
    return static_cast<core::Date>(start);
}

std::shared_ptr<const Calendar> localCalendar() {
    return std::make_shared<const LocalCalendar>();
}

} // namespace meterly::history
