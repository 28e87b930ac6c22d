#pragma once

#include "core/Time.hpp"

#include <optional>
#include <string_view>

namespace meterly::core {

// A strict reader of the internet date-time form: "2025-06-01T12:34:56Z", with a zone that is
// either "Z" or an offset such as "+02:00". One parser reads the form with a fractional second
// ("12:34:56.789Z", any number of digits), the other the form without one; neither accepts the
// other's form, lower-case letters, blanks, or fields out of range.
class InternetDateParser {
public:
    enum class Fraction { required, absent };

    explicit InternetDateParser(Fraction fraction) : fraction_(fraction) {}

    // The instant the text names, or none when it is not exactly in this parser's form.
    std::optional<Date> date(std::string_view text) const;

private:
    Fraction fraction_;
};

} // namespace meterly::core
