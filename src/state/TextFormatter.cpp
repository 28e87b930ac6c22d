#include "state/TextFormatter.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/simpletz.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace meterly::state {
namespace {

// ±8.64e12 s (about ±275,000 years) lies well inside what ICU's calendars represent.
constexpr double dateLimit = 8.64e12;

// `date` in ICU's milliseconds, clamped to the range above; none when not a number.
std::optional<UDate> icuDate(core::Date date) {
    if (std::isnan(date)) {
        return std::nullopt;
    }
    return std::clamp(date, -dateLimit, dateLimit) * 1000.0;
}

std::string nonEmpty(const std::optional<std::string>& value) {
    return value && !value->empty() ? *value : std::string();
}

// The POSIX locale name ("de_DE.UTF-8@euro") as an ICU locale ("de_DE@euro").
icu::Locale environmentLocale(const core::EnvironmentLookup& environment) {
    std::string name = nonEmpty(environment("LC_ALL"));
    if (name.empty()) {
        name = nonEmpty(environment("LC_TIME"));
    }
    if (name.empty()) {
        name = nonEmpty(environment("LANG"));
    }
    if (const auto dot = name.find('.'); dot != std::string::npos) {
        const auto at = name.find('@', dot);
        name.erase(dot, at == std::string::npos ? std::string::npos : at - dot);
    }
    if (name.empty() || name == "C" || name == "POSIX") {
        return icu::Locale("en_US_POSIX");
    }
    icu::Locale locale(name.c_str());
    if (locale.isBogus()) {
        return icu::Locale("en_US_POSIX");
    }
    return locale;
}

// TZ as an ICU zone: an Olson name, optionally after ":" or as a path under a zoneinfo folder.
// A value ICU does not know (a POSIX rule such as "XST-3:30") becomes a fixed offset, the one the
// C library gives for the current moment under the process's own TZ.
std::unique_ptr<icu::TimeZone> environmentZone(const core::EnvironmentLookup& environment) {
    const auto tz = environment("TZ");
    if (!tz) {
        return std::unique_ptr<icu::TimeZone>(icu::TimeZone::detectHostTimeZone());
    }
    std::string_view name = *tz;
    if (name.starts_with(':')) {
        name.remove_prefix(1);
    }
    if (const auto at = name.find("zoneinfo/"); at != std::string_view::npos) {
        name.remove_prefix(at + 9);
    }
    if (name.empty()) {
        name = "UTC"; // an empty TZ means UTC to the C library
    }
    std::unique_ptr<icu::TimeZone> zone(
        icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(std::string(name))));
    if (*zone != icu::TimeZone::getUnknown()) {
        return zone;
    }
    ::tzset(); // the C library reads TZ once unless asked again
    std::tm local{};
    const std::time_t current = std::time(nullptr);
    const long offset = localtime_r(&current, &local) != nullptr ? local.tm_gmtoff : 0;
    return std::make_unique<icu::SimpleTimeZone>(static_cast<std::int32_t>(offset * 1000),
                                                 icu::UnicodeString::fromUTF8(*tz));
}

void check(UErrorCode status, const char* what) {
    if (U_FAILURE(status)) {
        throw std::runtime_error(std::string("ICU could not create the ") + what + ": " +
                                 u_errorName(status));
    }
}

std::string utf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

} // namespace

struct TextFormatter::Impl {
    icu::Locale locale;
    std::unique_ptr<icu::TimeZone> zone;
    std::array<std::unique_ptr<icu::SimpleDateFormat>, 3> clocks;
    std::unique_ptr<icu::Calendar> calendar;
    std::unique_ptr<icu::RelativeDateTimeFormatter> relative;
};

TextFormatter::TextFormatter(const core::EnvironmentLookup& environment)
    : impl_(std::make_unique<Impl>()) {
    impl_->locale = environmentLocale(environment);
    impl_->zone = environmentZone(environment);

    const std::array<const char16_t*, 3> patterns{u"h:mm a", u"EEE h:mm a", u"HH:mm"};
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        UErrorCode status = U_ZERO_ERROR;
        impl_->clocks[i] = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(patterns[i]),
                                                                   impl_->locale, status);
        check(status, "clock format");
        impl_->clocks[i]->setTimeZone(*impl_->zone);
    }

    UErrorCode status = U_ZERO_ERROR;
    impl_->calendar.reset(icu::Calendar::createInstance(*impl_->zone, impl_->locale, status));
    check(status, "calendar");

    status = U_ZERO_ERROR;
    impl_->relative = std::make_unique<icu::RelativeDateTimeFormatter>(
        impl_->locale, nullptr, UDAT_STYLE_LONG, UDISPCTX_CAPITALIZATION_NONE, status);
    check(status, "relative date format");
}

TextFormatter::~TextFormatter() = default;

std::string TextFormatter::clock(core::Date date, ClockPattern pattern) const {
    const auto when = icuDate(date);
    if (!when) {
        return {};
    }
    icu::UnicodeString text;
    impl_->clocks[static_cast<std::size_t>(pattern)]->format(*when, text);
    return utf8(text);
}

bool TextFormatter::sameDay(core::Date a, core::Date b) const {
    const auto first = icuDate(a);
    const auto second = icuDate(b);
    if (!first || !second) {
        return false;
    }
    UErrorCode status = U_ZERO_ERROR;
    impl_->calendar->setTime(*first, status);
    const auto dayOfFirst = impl_->calendar->get(UCAL_JULIAN_DAY, status);
    impl_->calendar->setTime(*second, status);
    const auto dayOfSecond = impl_->calendar->get(UCAL_JULIAN_DAY, status);
    return U_SUCCESS(status) && dayOfFirst == dayOfSecond;
}

std::string TextFormatter::relative(core::Date date, core::Date reference) const {
    const auto target = icuDate(date);
    const auto from = icuDate(reference);
    if (!target || !from) {
        return {};
    }
    struct Unit {
        UCalendarDateFields field;
        URelativeDateTimeUnit unit;
    };
    static constexpr std::array<Unit, 7> units{{
        {UCAL_YEAR, UDAT_REL_UNIT_YEAR},
        {UCAL_MONTH, UDAT_REL_UNIT_MONTH},
        {UCAL_WEEK_OF_YEAR, UDAT_REL_UNIT_WEEK},
        {UCAL_DATE, UDAT_REL_UNIT_DAY},
        {UCAL_HOUR_OF_DAY, UDAT_REL_UNIT_HOUR},
        {UCAL_MINUTE, UDAT_REL_UNIT_MINUTE},
        {UCAL_SECOND, UDAT_REL_UNIT_SECOND},
    }};
    // Walk from the reference toward the date one unit at a time, as a calendar counts the
    // difference; the first unit with a whole step names the text.
    UErrorCode status = U_ZERO_ERROR;
    impl_->calendar->setTime(*from, status);
    std::int32_t amount = 0;
    URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
    for (const auto& candidate : units) {
        amount = impl_->calendar->fieldDifference(*target, candidate.field, status);
        if (U_FAILURE(status)) {
            return {};
        }
        if (amount != 0) {
            unit = candidate.unit;
            break;
        }
    }
    icu::UnicodeString text;
    impl_->relative->formatNumeric(amount, unit, text, status);
    return U_SUCCESS(status) ? utf8(text) : std::string();
}

std::int64_t TextFormatter::roundedPercent(double share) {
    const double clamped = share > 0 ? std::min(share, 1.0) : 0.0; // not a number gives 0
    return static_cast<std::int64_t>(std::llround(clamped * 100.0));
}

std::string TextFormatter::percentText(double share) {
    return std::to_string(roundedPercent(share)) + "%";
}

std::string TextFormatter::localeName() const {
    return impl_->locale.getName();
}

std::string TextFormatter::timeZoneName() const {
    icu::UnicodeString id;
    impl_->zone->getID(id);
    return utf8(id);
}

} // namespace meterly::state
