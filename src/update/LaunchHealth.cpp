#include "update/LaunchHealth.hpp"

#include <limits>

namespace meterly::update {

std::int64_t LaunchHealth::incompleteLaunches() const {
    return state::preferenceAs<std::int64_t>(defaults_.object(key)).value_or(0);
}

void LaunchHealth::recordLaunchBegan() {
    auto count = incompleteLaunches();
    if (count < std::numeric_limits<std::int64_t>::max()) {
        ++count;
    }
    defaults_.set(state::PreferenceValue(count), key);
}

void LaunchHealth::reset() {
    defaults_.set(state::PreferenceValue(std::int64_t{0}), key);
}

} // namespace meterly::update
