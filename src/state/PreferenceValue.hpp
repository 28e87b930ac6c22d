#pragma once

#include "core/Time.hpp"

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace meterly::state {

// A stored date, kept apart from plain doubles so that it reads back as a date.
struct PreferenceDate {
    core::Date secondsSince1970 = 0;
    auto operator<=>(const PreferenceDate&) const = default;
};

// One stored preference: a Boolean, an integer, a double, a date or a text; each keeps its type.
using PreferenceValue = std::variant<bool, std::int64_t, double, PreferenceDate, std::string>;

// The value as T when it is stored as exactly that type, else none.
template <typename T>
std::optional<T> preferenceAs(const std::optional<PreferenceValue>& value) {
    if (value && std::holds_alternative<T>(*value)) {
        return std::get<T>(*value);
    }
    return std::nullopt;
}

} // namespace meterly::state
