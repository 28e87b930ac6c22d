#pragma once

#include "core/Time.hpp"
#include "update/UpdateInfo.hpp"

namespace meterly::update {

// Whether a staged rollout has reached this installation: the installation with bucket b sees a
// release b × phase hours after the rollout began. Critical releases, and releases without usable
// rollout parameters, are open at once.
class RolloutGate {
public:
    RolloutGate() = delete;

    static bool isOpen(const UpdateInfo& info, double bucket, core::Date now);

    // A number drawn uniformly from [0, 1).
    static double newBucket();
};

} // namespace meterly::update
