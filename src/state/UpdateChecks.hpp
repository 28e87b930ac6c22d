#pragma once

#include <functional>

namespace meterly::state {

// The update checks that the usage view model runs: one when it starts, and one every ten
// minutes that the update state itself spaces out. Called on the main executor; `done` runs there
// when the check is over.
class UpdateChecks {
public:
    using Done = std::function<void()>;

    virtual ~UpdateChecks() = default;

    // A check as if the user had asked for it (the model does not wait for it).
    virtual void checkNow(Done done) = 0;
    // A check when the last one is old enough.
    virtual void checkIfDue(Done done) = 0;
};

} // namespace meterly::state
