#include "ui/update/UpdateStateOffer.hpp"

#include "ui/popover/PopoverPresenter.hpp"

namespace meterly::ui {

std::optional<UpdateBannerContent> UpdateStateOffer::banner() const {
    const auto& offered = state_.status()->offered();
    if (!offered) {
        return std::nullopt;
    }
    return present(*offered, *state_.download());
}

std::optional<std::string> UpdateStateOffer::notesURL() const {
    const auto& offered = state_.status()->offered();
    return offered ? offered->notesURL : std::nullopt;
}

std::optional<std::string> UpdateStateOffer::downloadURL() const {
    const auto& offered = state_.status()->offered();
    return offered ? std::optional<std::string>(offered->downloadURL) : std::nullopt;
}

void UpdateStateOffer::updateNow(std::function<void(bool installed)> done) {
    state_.updateNow([this, done = std::move(done)] {
        if (done) {
            done(state_.download()->kind() == update::DownloadState::Kind::installed);
        }
    });
}

UpdateBannerContent UpdateStateOffer::present(const update::UpdateInfo& info,
                                              const update::DownloadState& download) {
    using Kind = update::DownloadState::Kind;
    using Stage = UpdateBannerContent::Stage;
    UpdateBannerContent content;
    content.title =
        QStringLiteral("Version %1 is available").arg(QString::fromStdString(info.latestVersion));
    if (info.notes && !info.notes->empty()) {
        content.notes = QString::fromStdString(*info.notes);
    }
    content.hasNotesURL = info.notesURL.has_value();
    switch (download.kind()) {
    case Kind::idle:
        content.stage = Stage::idle;
        break;
    case Kind::downloading:
        content.stage = Stage::downloading;
        content.progress = download.progress();
        content.progressText = PopoverPresenter::downloadingText(download.progress());
        break;
    case Kind::ready:
    case Kind::installing:
        // On the road of "Update" a verified image is installed at once.
        content.stage = Stage::installing;
        content.busyText = QStringLiteral("Installing…");
        break;
    case Kind::installed:
        content.stage = Stage::restarting;
        content.busyText = QStringLiteral("Restarting…");
        break;
    case Kind::failed:
        content.stage = Stage::failed;
        content.failure = QString::fromStdString(download.message());
        break;
    }
    return content;
}

} // namespace meterly::ui
