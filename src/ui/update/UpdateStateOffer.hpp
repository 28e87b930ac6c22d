#pragma once

#include "ui/update/UpdateOffer.hpp"
#include "update/DownloadState.hpp"
#include "update/UpdateInfo.hpp"
#include "update/UpdateState.hpp"
#include "update/UpdateStatus.hpp"

namespace meterly::ui {

// The app's update state as the scene and the banner see it.
class UpdateStateOffer final : public UpdateOffer {
public:
    explicit UpdateStateOffer(update::UpdateState& state) : state_(state) {}

    std::optional<UpdateBannerContent> banner() const override;
    std::optional<std::string> currentVersion() const override { return state_.currentVersion(); }
    std::optional<std::string> notesURL() const override;
    std::optional<std::string> downloadURL() const override;
    state::ChangeSignal& changed() override { return state_.changed(); }
    void updateNow(std::function<void(bool installed)> done) override;

    // The banner for an offered release at a stage of its download.
    static UpdateBannerContent present(const update::UpdateInfo& info,
                                       const update::DownloadState& download);

private:
    update::UpdateState& state_;
};

} // namespace meterly::ui
