#pragma once

#include "state/PreferenceValue.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace meterly::state {

// The key-value store behind the app's preferences and counters (the preferences file in the
// app, an in-memory map in tests). Called on the main executor.
class UpdateCheckStore {
public:
    virtual ~UpdateCheckStore() = default;

    // The stored value for `key`, or none.
    virtual std::optional<PreferenceValue> object(std::string_view key) const = 0;
    // Stores `value` for `key`, or removes the key when given none.
    virtual void set(std::optional<PreferenceValue> value, std::string_view key) = 0;
};

} // namespace meterly::state
