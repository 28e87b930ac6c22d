#pragma once

#include "state/Outcome.hpp"
#include "update/UpdateInfo.hpp"

#include <functional>

namespace meterly::update {

// Where the update state learns of the newest release (the version feed, or a fake in tests).
class UpdateBackend {
public:
    using Done = std::function<void(state::Outcome<UpdateInfo>)>;

    virtual ~UpdateBackend() = default;

    // Asks for the feed; `done` runs later on the main executor with the record or the failure.
    virtual void fetchLatest(Done done) = 0;
};

} // namespace meterly::update
