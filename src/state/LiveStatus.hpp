#pragma once

#include <string_view>

namespace meterly::state {

class UsageViewModel;

// Whether usage readings are flowing, as the popover's header tells it.
enum class LiveStatus {
    // The app cannot read the proxy's status.
    silent,
    // No reading yet, or nothing has come through for ten minutes.
    quiet,
    // Traffic is reaching the proxy.
    live,
};

// A poll failure wins over any snapshot held; no snapshot, or an idle one, is quiet.
LiveStatus liveStatus(const UsageViewModel& model);
// "silent", "quiet", "live".
std::string_view label(LiveStatus status);
// The tooltip sentence.
std::string_view detail(LiveStatus status);

} // namespace meterly::state
