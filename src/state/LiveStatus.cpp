#include "state/LiveStatus.hpp"

#include "state/UsageViewModel.hpp"

namespace meterly::state {

LiveStatus liveStatus(const UsageViewModel& model) {
    if (model.pollFailure()) {
        return LiveStatus::silent;
    }
    if (!model.snapshot() || model.isIdle()) {
        return LiveStatus::quiet;
    }
    return LiveStatus::live;
}

std::string_view label(LiveStatus status) {
    switch (status) {
    case LiveStatus::silent:
        return "silent";
    case LiveStatus::quiet:
        return "quiet";
    case LiveStatus::live:
        return "live";
    }
    return "quiet";
}

std::string_view detail(LiveStatus status) {
    switch (status) {
    case LiveStatus::silent:
        return "The app cannot read the proxy's status. Claude Code may be unaffected \u2014 check "
               "the proxy pane in Settings.";
    case LiveStatus::quiet:
        return "The proxy is running. Nothing has come through in the last 10 minutes \u2014 your "
               "next prompt clears this.";
    case LiveStatus::live:
        return "Claude Code traffic is reaching the proxy right now.";
    }
    return {};
}

} // namespace meterly::state
