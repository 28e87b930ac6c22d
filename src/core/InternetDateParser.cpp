#include "core/InternetDateParser.hpp"

#include <cstdint>

namespace meterly::core {
namespace {

class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    bool atEnd() const { return pos_ == text_.size(); }

    bool take(char c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    std::optional<char> peek() const {
        if (pos_ < text_.size()) {
            return text_[pos_];
        }
        return std::nullopt;
    }

    // Exactly `count` decimal digits.
    std::optional<int> digits(int count) {
        int value = 0;
        for (int i = 0; i < count; ++i) {
            if (pos_ >= text_.size() || !isDigit(text_[pos_])) {
                return std::nullopt;
            }
            value = value * 10 + (text_[pos_++] - '0');
        }
        return value;
    }

    // One or more decimal digits read as a fraction of a second (digits past the fifteenth are
    // checked but no longer change the value).
    std::optional<double> fraction() {
        std::int64_t numerator = 0;
        std::int64_t denominator = 1;
        const std::size_t start = pos_;
        while (pos_ < text_.size() && isDigit(text_[pos_])) {
            if (pos_ - start < 15) {
                numerator = numerator * 10 + (text_[pos_] - '0');
                denominator *= 10;
            }
            ++pos_;
        }
        if (pos_ == start) {
            return std::nullopt;
        }
        return static_cast<double>(numerator) / static_cast<double>(denominator);
    }

private:
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    std::string_view text_;
    std::size_t pos_ = 0;
};

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(int year, int month, int day) {
    const std::int64_t y = month <= 2 ? year - 1 : year;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

std::optional<Date> InternetDateParser::date(std::string_view text) const {
    Cursor in(text);
    const auto year = in.digits(4);
    if (!year || !in.take('-')) {
        return std::nullopt;
    }
    const auto month = in.digits(2);
    if (!month || *month < 1 || *month > 12 || !in.take('-')) {
        return std::nullopt;
    }
    const auto day = in.digits(2);
    if (!day || *day < 1 || *day > daysInMonth(*year, *month) || !in.take('T')) {
        return std::nullopt;
    }
    const auto hour = in.digits(2);
    if (!hour || *hour > 23 || !in.take(':')) {
        return std::nullopt;
    }
    const auto minute = in.digits(2);
    if (!minute || *minute > 59 || !in.take(':')) {
        return std::nullopt;
    }
    const auto second = in.digits(2);
    if (!second || *second > 59) {
        return std::nullopt;
    }
    double fraction = 0;
    if (fraction_ == Fraction::required) {
        if (!in.take('.')) {
            return std::nullopt;
        }
        const auto digits = in.fraction();
        if (!digits) {
            return std::nullopt;
        }
        fraction = *digits;
    }
    int offsetSeconds = 0;
    if (!in.take('Z')) {
        const auto sign = in.peek();
        if (sign != '+' && sign != '-') {
            return std::nullopt;
        }
        in.take(*sign);
        const auto offsetHours = in.digits(2);
        if (!offsetHours || *offsetHours > 23 || !in.take(':')) {
            return std::nullopt;
        }
        const auto offsetMinutes = in.digits(2);
        if (!offsetMinutes || *offsetMinutes > 59) {
            return std::nullopt;
        }
        offsetSeconds = (*offsetHours * 3600 + *offsetMinutes * 60) * (sign == '+' ? 1 : -1);
    }
    if (!in.atEnd()) {
        return std::nullopt;
    }
    const std::int64_t seconds = daysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 +
                                 *minute * 60 + *second - offsetSeconds;
    return static_cast<double>(seconds) + fraction;
}

} // namespace meterly::core
