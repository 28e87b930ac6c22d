#pragma once

#include "state/UpdateCheckStore.hpp"

#include <map>
#include <string>

namespace meterly::state {

// A store that keeps its values in memory only: the preferences of tests that need no file.
class MemoryPreferences final : public UpdateCheckStore {
public:
    std::optional<PreferenceValue> object(std::string_view key) const override {
        const auto it = values_.find(key);
        if (it == values_.end()) {
            return std::nullopt;
        }
        return it->second;
    }

    void set(std::optional<PreferenceValue> value, std::string_view key) override {
        if (value) {
            values_.insert_or_assign(std::string(key), std::move(*value));
        } else {
            values_.erase(std::string(key));
        }
    }

private:
    std::map<std::string, PreferenceValue, std::less<>> values_;
};

} // namespace meterly::state
