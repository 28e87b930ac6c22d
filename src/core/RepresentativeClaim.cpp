#include "core/RepresentativeClaim.hpp"

namespace meterly::core {

namespace {
constexpr std::string_view fiveHourText = "five_hour";
constexpr std::string_view sevenDayText = "seven_day";
} // namespace

std::optional<RepresentativeClaim> representativeClaimFromText(std::string_view text) {
    if (text == fiveHourText) {
        return RepresentativeClaim::fiveHour;
    }
    if (text == sevenDayText) {
        return RepresentativeClaim::sevenDay;
    }
    return std::nullopt;
}

std::string_view representativeClaimText(RepresentativeClaim claim) {
    return claim == RepresentativeClaim::fiveHour ? fiveHourText : sevenDayText;
}

} // namespace meterly::core
