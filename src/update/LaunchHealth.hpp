#pragma once

#include "state/UpdateCheckStore.hpp"

#include <cstdint>
#include <string_view>

namespace meterly::update {

// The persistent count of app launches that began but never reached the tray. Every launch raises
// it; reaching the tray sets it back to 0; at three the start-up recovery puts the previous
// version back.
class LaunchHealth {
public:
    static constexpr std::string_view key = "meterly.launch.incomplete";
    static constexpr std::int64_t threshold = 3;

    explicit LaunchHealth(state::UpdateCheckStore& defaults) : defaults_(defaults) {}

    // The stored count; 0 when absent or not an integer.
    std::int64_t incompleteLaunches() const;
    bool shouldRecover() const { return incompleteLaunches() >= threshold; }

    // Raises the count by one; it stops at the largest integer instead of wrapping.
    void recordLaunchBegan();
    void recordReachedMenuBar() { reset(); }
    void reset();

private:
    state::UpdateCheckStore& defaults_;
};

} // namespace meterly::update
