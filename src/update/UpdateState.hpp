#pragma once

#include "core/Time.hpp"
#include "state/BlockingWorker.hpp"
#include "state/ChangeSignal.hpp"
#include "state/MainExecutor.hpp"
#include "state/Observable.hpp"
#include "state/UpdateCheckStore.hpp"
#include "state/UpdateChecks.hpp"
#include "update/DownloadState.hpp"
#include "update/UpdateBackend.hpp"
#include "update/UpdateDownloading.hpp"
#include "update/UpdateInstalling.hpp"
#include "update/UpdateStatus.hpp"

#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::update {

// The observable model of self-updating in the app: when the feed is asked, whether its answer is
// an update for this installation (newer, and past the staged rollout for unattended checks), and
// one offered update carried through the verified download and the bundle swap up to the point
// where the relaunch may begin. Lives on the main executor; the feed, the downloader and the
// installer work elsewhere and report back there.
//
// Operations take an optional `done`, run on the main executor once the operation has finished
// (at once when it returns early). The usage view model runs its checks through UpdateChecks.
class UpdateState final : public state::UpdateChecks {
public:
    static constexpr std::string_view lastCheckedKey = "meterly.update.lastCheckedAt";
    static constexpr std::string_view rolloutBucketKey = "meterly.update.rolloutBucket";
    // Unattended checks come at most once in this span.
    static constexpr core::Seconds checkSpacing = 14'400;
    static constexpr std::string_view notInBundleMessage =
        "Meterly is not running from an application bundle, so it cannot replace itself.";

    using Done = state::UpdateChecks::Done;

    struct Collaborators {
        std::unique_ptr<UpdateBackend> backend;
        std::unique_ptr<UpdateDownloading> downloader;
        std::shared_ptr<UpdateInstalling> installer;
        // The running version ("CFBundleShortVersionString"); without one no update is offered.
        std::optional<std::string> currentVersion;
        // The application bundle an update replaces, and the identifier the new one must carry.
        std::optional<std::filesystem::path> bundlePath;
        std::optional<std::string> bundleID;
        // Draws a rollout bucket in [0, 1) the first time one is needed.
        std::function<double()> newBucket;
    };

    // `main` and `defaults` outlive the state. Reads nothing and starts nothing.
    UpdateState(state::MainExecutor& main, state::UpdateCheckStore& defaults, core::Clock now,
                Collaborators collaborators);
    // Waits for an installation that is running to finish.
    ~UpdateState() override;
    UpdateState(const UpdateState&) = delete;
    UpdateState& operator=(const UpdateState&) = delete;

    const state::Observable<UpdateStatus>& status() const { return status_; }
    const state::Observable<DownloadState>& download() const { return download_; }
    const state::Observable<bool>& isChecking() const { return isChecking_; }
    // The last check the user asked for could not read the feed (until a later check reads it).
    const state::Observable<bool>& lastUserCheckFailed() const { return lastUserCheckFailed_; }
    // Emitted after any of these changes.
    state::ChangeSignal& changed() { return changed_; }

    const std::optional<std::string>& currentVersion() const { return currentVersion_; }

    // The date of the last check (stored before the feed is asked), or none.
    std::optional<core::Date> lastCheckedAt() const;
    // This installation's place in the staged rollout; drawn and stored the first time.
    double rolloutBucket();

    // An unattended check, when the last one is 4 hours old or more; subject to the rollout.
    void checkIfDue(Done done = {}) override;
    // A check the user asked for: ignores the spacing and the rollout. Refused while another
    // checkNow() runs.
    void checkNow(Done done = {}) override;
    // Downloads the offered release (again) unless a download or an installation is running.
    void startDownload(Done done = {});
    // Downloads, and when that succeeds installs.
    void updateNow(Done done = {});
    // Starts over from idle (not while an installation runs); does not install.
    void retryDownload(Done done = {});
    // Installs the image that is ready, as the release its download began with, while the status
    // still offers that release; otherwise does nothing.
    void install(Done done = {});

    // Whether an installation has begun to replace the bundle this process runs from: true from
    // the start of one, for good once one has succeeded, false again after one that failed (the
    // installer then leaves the bundle as it was). This process's own executable path names the
    // kept copy from then on.
    bool bundleReplaced() const { return bundleReplaced_; }

    // The message the banner shows for a failed download or installation.
    static std::string describe(std::exception_ptr error);
    // Whether `candidate` names a later dotted version than `current` (pieces compared as
    // numbers; pieces that are not numbers are dropped).
    static bool isNewer(std::string_view candidate, std::string_view current);

private:
    void performCheck(bool userAsked, Done done);

    state::MainExecutor& main_;
    state::UpdateCheckStore& defaults_;
    core::Clock now_;
    std::unique_ptr<UpdateBackend> backend_;
    std::unique_ptr<UpdateDownloading> downloader_;
    std::shared_ptr<UpdateInstalling> installer_;
    std::optional<std::string> currentVersion_;
    std::optional<std::filesystem::path> bundlePath_;
    std::optional<std::string> bundleID_;
    std::function<double()> newBucket_;

    state::ChangeSignal changed_;
    state::Observable<UpdateStatus> status_{UpdateStatus::upToDate(), &changed_};
    state::Observable<DownloadState> download_{DownloadState::idle(), &changed_};
    state::Observable<bool> isChecking_{false, &changed_};
    state::Observable<bool> lastUserCheckFailed_{false, &changed_};

    // Each download has its own number, so that a late progress report or result of an earlier
    // one is ignored.
    std::uint64_t downloadGeneration_ = 0;
    // The release that the image now ready was downloaded for.
    std::optional<UpdateInfo> readyInfo_;
    bool bundleReplaced_ = false;
    bool installedOnce_ = false;

    // Tells callbacks that arrive after destruction that the state is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // Declared last, so destroyed first: destruction waits for a running installation.
    state::BlockingWorker installWorker_;
};

} // namespace meterly::update
