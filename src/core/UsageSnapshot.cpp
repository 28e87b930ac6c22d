#include "core/UsageSnapshot.hpp"

#include "core/RepresentativeClaim.hpp"

namespace meterly::core {

std::optional<LimitWindow> UsageSnapshot::representative() const {
    auto claim =
        representativeClaim ? representativeClaimFromText(*representativeClaim) : std::nullopt;
    if (claim == RepresentativeClaim::sevenDay) {
        return sevenDay ? sevenDay : fiveHour;
    }
    if (claim == RepresentativeClaim::fiveHour) {
        return fiveHour ? fiveHour : sevenDay;
    }
    if (!fiveHour || !sevenDay) {
        return fiveHour ? fiveHour : sevenDay;
    }
    if (sevenDay->remainingFraction() < fiveHour->remainingFraction()) {
        return sevenDay;
    }
    return fiveHour;
}

Seconds UsageSnapshot::age(Date now) const {
    Seconds age = now - capturedAt;
    return age >= 0 ? age : 0;
}

} // namespace meterly::core
