#pragma once

#include "state/LiveStatus.hpp"
#include "state/SetupModel.hpp"
#include "state/UsageViewModel.hpp"
#include "ui/popover/PopoverContent.hpp"

#include <optional>
#include <string>

namespace meterly::ui {

// The whole popover from the two models, read afresh on every call, with the update banner and
// the running version as the update state gives them.
class PopoverModelPresenter {
public:
    PopoverModelPresenter() = delete;

    // `history` is the history section of the model's current report (made by
    // PopoverPresenter::history, which looks at the disk, so the caller keeps it per report).
    static PopoverContent present(const state::UsageViewModel& model,
                                  const state::SetupModel::State& setup,
                                  std::optional<UpdateBannerContent> banner,
                                  const std::optional<std::string>& currentVersion,
                                  std::optional<HistoryContent> history);

    static LiveStatusContent liveStatus(state::LiveStatus status);

    // The limits section: not connected while the setup is not connected (conflict, failed,
    // not configured), else waiting without a reading, else one row per window present.
    static LimitsContent limits(const state::UsageViewModel& model,
                                const state::SetupModel::State& setup);
};

} // namespace meterly::ui
