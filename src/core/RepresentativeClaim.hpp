#pragma once

#include <optional>
#include <string_view>

namespace meterly::core {

// The window that the upstream names as the one that governs.
enum class RepresentativeClaim {
    fiveHour, // "five_hour"
    sevenDay, // "seven_day"
};

// The claim whose text is exactly `text` (letter case matters); nullopt for any other text.
std::optional<RepresentativeClaim> representativeClaimFromText(std::string_view text);

// "five_hour" or "seven_day".
std::string_view representativeClaimText(RepresentativeClaim claim);

} // namespace meterly::core
