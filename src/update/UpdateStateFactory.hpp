#pragma once

#include "core/Environment.hpp"
#include "state/MainExecutor.hpp"
#include "state/UpdateCheckStore.hpp"
#include "update/UpdateState.hpp"

#include <filesystem>
#include <memory>

namespace meterly::update {

// The app's one update state, built the way the app runs it: the maker's feed with a 10-second
// time-out, downloads into the user's download folder with a 60-second idle time-out, the bundle
// installer, and the version, identifier and location of the bundle around the running
// executable (none of them outside a bundle; there is no fallback to the built-in version).
class UpdateStateFactory {
public:
    UpdateStateFactory() = delete;

    static constexpr core::Seconds feedTimeout = 10;
    static constexpr core::Seconds downloadIdleTimeout = 60;

    static std::unique_ptr<UpdateState> standard(state::MainExecutor& main,
                                                 state::UpdateCheckStore& defaults,
                                                 const std::filesystem::path& executable,
                                                 const std::filesystem::path& home,
                                                 const core::EnvironmentLookup& environment);
};

} // namespace meterly::update
