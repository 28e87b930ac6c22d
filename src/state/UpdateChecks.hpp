#pragma once

#include <functional>

namespace meterly::state {

// The update checks that the usage view model runs: one when it starts, and one every ten
// minutes that the update state itself spaces out. Called on the main executor.
class UpdateChecks {
public:
    virtual ~UpdateChecks() = default;

    // A check as if the user had asked for it; the caller does not wait for it.
    virtual void checkNow() = 0;
    // A check when the last one is old enough; `done` runs on the main executor when it is over.
    virtual void checkIfDue(std::function<void()> done) = 0;
};

} // namespace meterly::state
