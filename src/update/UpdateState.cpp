#include "update/UpdateState.hpp"

#include "update/RolloutGate.hpp"
#include "update/UpdateDownloadError.hpp"

#include <cstdint>
#include <limits>
#include <vector>

namespace meterly::update {

namespace {

void finish(const UpdateState::Done& done) {
    if (done) {
        done();
    }
}

// A piece of a version: an optional sign and one or more ASCII digits, fitting 64 bits.
std::optional<std::int64_t> versionNumber(std::string_view piece) {
    bool negative = false;
    if (!piece.empty() && (piece.front() == '+' || piece.front() == '-')) {
        negative = piece.front() == '-';
        piece.remove_prefix(1);
    }
    if (piece.empty()) {
        return std::nullopt;
    }
    const std::uint64_t limit = negative
                                    ? std::uint64_t{std::numeric_limits<std::int64_t>::max()} + 1
                                    : std::uint64_t{std::numeric_limits<std::int64_t>::max()};
    std::uint64_t value = 0;
    for (char c : piece) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (limit - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    if (negative) {
        return value == 0 ? 0 : -static_cast<std::int64_t>(value - 1) - 1;
    }
    return static_cast<std::int64_t>(value);
}

std::vector<std::int64_t> versionNumbers(std::string_view text) {
    std::vector<std::int64_t> numbers;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find('.', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        auto piece = text.substr(start, end - start);
        if (!piece.empty()) {
            if (auto number = versionNumber(piece)) {
                numbers.push_back(*number);
            }
        }
        start = end + 1;
    }
    return numbers;
}

} // namespace

UpdateState::UpdateState(state::MainExecutor& main, state::UpdateCheckStore& defaults,
                         core::Clock now, Collaborators collaborators)
    : main_(main), defaults_(defaults), now_(std::move(now)),
      backend_(std::move(collaborators.backend)), downloader_(std::move(collaborators.downloader)),
      installer_(std::move(collaborators.installer)),
      currentVersion_(std::move(collaborators.currentVersion)),
      bundlePath_(std::move(collaborators.bundlePath)),
      bundleID_(std::move(collaborators.bundleID)),
      newBucket_(collaborators.newBucket ? std::move(collaborators.newBucket)
                                         : std::function<double()>(RolloutGate::newBucket)),
      installWorker_(main) {}

UpdateState::~UpdateState() = default;

std::optional<core::Date> UpdateState::lastCheckedAt() const {
    auto date = state::preferenceAs<state::PreferenceDate>(defaults_.object(lastCheckedKey));
    if (!date) {
        return std::nullopt;
    }
    return date->secondsSince1970;
}

double UpdateState::rolloutBucket() {
    if (auto stored = state::preferenceAs<double>(defaults_.object(rolloutBucketKey))) {
        return *stored;
    }
    const double bucket = newBucket_();
    defaults_.set(state::PreferenceValue(bucket), rolloutBucketKey);
    return bucket;
}

void UpdateState::checkIfDue(Done done) {
    if (auto last = lastCheckedAt(); last && now_() - *last < checkSpacing) {
        finish(done);
        return;
    }
    performCheck(false, std::move(done));
}

void UpdateState::checkNow(Done done) {
    if (isChecking_.get()) {
        finish(done);
        return;
    }
    isChecking_.set(true);
    performCheck(true, [this, done = std::move(done)] {
        isChecking_.set(false);
        finish(done);
    });
}

void UpdateState::performCheck(bool userAsked, Done done) {
    // Stored before the feed is asked: a check that fails still counts for the spacing.
    defaults_.set(state::PreferenceValue(state::PreferenceDate{now_()}), lastCheckedKey);
    backend_->fetchLatest([this, alive = std::weak_ptr<bool>(alive_), userAsked,
                           done = std::move(done)](state::Outcome<UpdateInfo> outcome) {
        if (alive.expired()) {
            return;
        }
        // A failed check leaves the status as it was; only a check the user asked for says it
        // failed, so that the settings window does not call the app up to date.
        if (userAsked) {
            lastUserCheckFailed_.set(!outcome.ok());
        } else if (outcome.ok()) {
            lastUserCheckFailed_.set(false);
        }
        if (outcome.ok()) {
            const auto& info = outcome.get();
            if (!currentVersion_ || !isNewer(info.latestVersion, *currentVersion_)) {
                status_.set(UpdateStatus::upToDate());
            } else if (userAsked) {
                status_.set(UpdateStatus::updateAvailable(info));
            } else {
                const double bucket = rolloutBucket();
                status_.set(RolloutGate::isOpen(info, bucket, now_())
                                ? UpdateStatus::updateAvailable(info)
                                : UpdateStatus::upToDate());
            }
        }
        finish(done);
    });
}

void UpdateState::startDownload(Done done) {
    const auto kind = download_->kind();
    if (!status_->isUpdateAvailable() || kind == DownloadState::Kind::downloading ||
        kind == DownloadState::Kind::installing) {
        finish(done);
        return;
    }
    const UpdateInfo info = *status_->offered();
    const auto generation = ++downloadGeneration_;
    readyInfo_.reset();
    download_.set(DownloadState::downloading(0));

    std::weak_ptr<bool> alive = alive_;
    auto progress = [this, &main = main_, alive, generation](double fraction) {
        // Called on the downloader's thread: the value moves to the main executor first.
        main.post([this, alive, generation, fraction] {
            if (alive.expired() || generation != downloadGeneration_ ||
                download_->kind() != DownloadState::Kind::downloading) {
                return;
            }
            download_.set(DownloadState::downloading(fraction));
        });
    };
    downloader_->download(info, std::move(progress),
                          [this, alive, generation, info,
                           done = std::move(done)](state::Outcome<std::filesystem::path> outcome) {
                              if (alive.expired()) {
                                  return;
                              }
                              if (generation == downloadGeneration_) {
                                  if (outcome.ok()) {
                                      readyInfo_ = info;
                                      download_.set(DownloadState::ready(outcome.get()));
                                  } else {
                                      download_.set(
                                          DownloadState::failed(describe(outcome.error())));
                                  }
                              }
                              finish(done);
                          });
}

void UpdateState::updateNow(Done done) {
    startDownload([this, alive = std::weak_ptr<bool>(alive_), done = std::move(done)] {
        if (alive.expired()) {
            return;
        }
        if (download_->kind() == DownloadState::Kind::ready) {
            install(done);
        } else {
            finish(done);
        }
    });
}

void UpdateState::retryDownload(Done done) {
    if (download_->kind() == DownloadState::Kind::installing) {
        finish(done);
        return;
    }
    download_.set(DownloadState::idle());
    startDownload(std::move(done));
}

void UpdateState::install(Done done) {
    // A check since the download may have found the app up to date, or another release.
    if (download_->kind() != DownloadState::Kind::ready || !readyInfo_ ||
        status_->offered() != readyInfo_) {
        finish(done);
        return;
    }
    if (!bundlePath_ || !bundleID_) {
        download_.set(DownloadState::failed(std::string(notInBundleMessage)));
        finish(done);
        return;
    }
    const auto image = download_->image();
    bundleReplaced_ = true;
    download_.set(DownloadState::installing());
    installWorker_.run(
        [installer = installer_, image, bundle = *bundlePath_, bundleID = *bundleID_,
         info = *readyInfo_] { return installer->install(image, bundle, bundleID, info); },
        [this, alive = std::weak_ptr<bool>(alive_),
         done = std::move(done)](state::Outcome<std::filesystem::path> outcome) {
            if (alive.expired()) {
                return;
            }
            installedOnce_ = installedOnce_ || outcome.ok();
            bundleReplaced_ = installedOnce_;
            download_.set(outcome.ok() ? DownloadState::installed()
                                       : DownloadState::failed(describe(outcome.error())));
            finish(done);
        });
}

std::string UpdateState::describe(std::exception_ptr error) {
    try {
        if (error) {
            std::rethrow_exception(error);
        }
    } catch (const UpdateDownloadError& failure) {
        switch (failure.kind()) {
        case UpdateDownloadError::Kind::digestMissing:
            return "This release didn't publish a checksum.";
        case UpdateDownloadError::Kind::unreachable:
            return "The download wasn't available.";
        case UpdateDownloadError::Kind::digestMismatch:
            return "The download didn't match its checksum.";
        }
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        // Not an error of a known kind: it has no text of its own to show.
    }
    return "Something went wrong.";
}

bool UpdateState::isNewer(std::string_view candidate, std::string_view current) {
    const auto a = versionNumbers(candidate);
    const auto b = versionNumbers(current);
    const auto places = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < places; ++i) {
        const std::int64_t x = i < a.size() ? a[i] : 0;
        const std::int64_t y = i < b.size() ? b[i] : 0;
        if (x != y) {
            return x > y;
        }
    }
    return false;
}

} // namespace meterly::update
