#include "update/UpdateState.hpp"

#include "../state/ViewModelFakes.hpp"
#include "support/MemoryPreferences.hpp"
#include "state/UsageViewModel.hpp"
#include "support/VirtualTimeExecutor.hpp"
#include "update/UpdateCheckError.hpp"
#include "update/UpdateDownloadError.hpp"
#include "update/UpdateInstallError.hpp"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <latch>
#include <mutex>
#include <thread>

namespace meterly::update {
namespace {

using Kind = DownloadState::Kind;

UpdateInfo release(std::string version, std::string sha = std::string(64, 'a')) {
    UpdateInfo info{std::move(version), "https://meterly.app/Meterly.tar.gz"};
    info.sha256 = std::move(sha);
    return info;
}

// A feed whose answers the test gives, one per request, in the order asked.
class FakeBackend final : public UpdateBackend {
public:
    void fetchLatest(Done done) override { pending.push_back(std::move(done)); }
    void answer(const UpdateInfo& info) { take()(state::Outcome<UpdateInfo>::success(info)); }
    void fail() {
        take()(state::Outcome<UpdateInfo>::failure(std::make_exception_ptr(UpdateCheckError())));
    }
    Done take() {
        auto done = std::move(pending.front());
        pending.erase(pending.begin());
        return done;
    }
    std::vector<Done> pending;
};

class FakeDownloader final : public UpdateDownloading {
public:
    struct Request {
        UpdateInfo info;
        Progress progress;
        Done done;
    };
    void download(const UpdateInfo& info, Progress onProgress, Done done) override {
        requests.push_back({info, std::move(onProgress), std::move(done)});
    }
    void finish(std::size_t index, std::filesystem::path image) {
        requests.at(index).done(state::Outcome<std::filesystem::path>::success(std::move(image)));
    }
    void fail(std::size_t index, std::exception_ptr error) {
        requests.at(index).done(state::Outcome<std::filesystem::path>::failure(error));
    }
    std::vector<Request> requests;
};

// Runs on the state's worker thread; may be held until the test lets it go.
class FakeInstaller final : public UpdateInstalling {
public:
    std::filesystem::path install(const std::filesystem::path& image,
                                  const std::filesystem::path& bundle, const std::string& bundleID,
                                  const UpdateInfo& info) override {
        {
            std::lock_guard lock(mutex);
            calls.push_back({image, bundle, bundleID, info.latestVersion});
        }
        started.count_down();
        if (hold) {
            release.wait();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        finished = true;
        if (error) {
            std::rethrow_exception(error);
        }
        return bundle;
    }
    struct Call {
        std::filesystem::path image;
        std::filesystem::path bundle;
        std::string bundleID;
        std::string version;
    };
    std::vector<Call> callsSoFar() {
        std::lock_guard lock(mutex);
        return calls;
    }
    std::mutex mutex;
    std::vector<Call> calls;
    std::exception_ptr error;
    bool hold = false;
    std::latch started{1};
    std::latch release{1};
    std::atomic<bool> finished{false};
};

class UpdateStateTest : public ::testing::Test {
protected:
    std::unique_ptr<UpdateState> make(std::optional<std::string> version = "1.0.7",
                                      std::optional<std::string> bundleID = "app.meterly") {
        auto backend = std::make_unique<FakeBackend>();
        auto downloader = std::make_unique<FakeDownloader>();
        feed = backend.get();
        loader = downloader.get();
        return std::make_unique<UpdateState>(
            executor, defaults, executor.clock(),
            UpdateState::Collaborators{
                .backend = std::move(backend),
                .downloader = std::move(downloader),
                .installer = installer,
                .currentVersion = std::move(version),
                .bundlePath = bundleID ? std::optional<std::filesystem::path>("/opt/Meterly.app")
                                       : std::nullopt,
                .bundleID = std::move(bundleID),
                .newBucket =
                    [this] {
                        ++draws;
                        return nextBucket;
                    },
            });
    }

    // Offers `info` through a user-asked check.
    void offer(UpdateState& state, const UpdateInfo& info) {
        state.checkNow();
        feed->answer(info);
        ASSERT_TRUE(state.status()->isUpdateAvailable());
    }

    state::VirtualTimeExecutor executor;
    state::MemoryPreferences defaults;
    std::shared_ptr<FakeInstaller> installer = std::make_shared<FakeInstaller>();
    FakeBackend* feed = nullptr;
    FakeDownloader* loader = nullptr;
    int draws = 0;
    double nextBucket = 0.5;
};

TEST(UpdateStateVersionTest, ComparesDottedVersionsPieceByPiece) {
    struct Case {
        const char* candidate;
        const char* current;
        bool newer;
    };
    const Case cases[] = {
        {"1.0.10", "1.0.9", true},
        {"1.0", "1.0.0", false},
        {"1.0.7", "1.0.7", false},
        {"2", "1.9.9", true},
        {"", "0", false},
        {"1.x.3", "1.2", true},
        {"1.0.7-beta", "1.0.6", false},
        {"v2.0", "1.0", false},
        {"1.+2", "1.1", true},
        {"1.-1", "1.0", false},
        {"1.0.-1", "1.0", false},
        {"1.+.5", "1.4", true},
        {"1.99999999999999999999.5", "1.4", true},
        {"1..2", "1.1", true},
        {".1.", "0.9", true},
        {"1.2", "1.10", false},
        {"1.9223372036854775807", "1.9223372036854775806", true},
        {"1.-9223372036854775808", "1.-9223372036854775807", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UpdateState::isNewer(c.candidate, c.current), c.newer)
            << c.candidate << " vs " << c.current;
    }
}

TEST_F(UpdateStateTest, PeriodicChecksComeFourHoursApartAndFailuresStillCount) {
    auto state = make();
    state->checkIfDue();
    ASSERT_EQ(feed->pending.size(), 1u);
    EXPECT_EQ(state->lastCheckedAt(), executor.now());
    feed->fail();
    EXPECT_EQ(*state->status(), UpdateStatus::upToDate());

    const auto checkedAt = executor.now();
    executor.advance(UpdateState::checkSpacing - 1);
    state->checkIfDue();
    EXPECT_TRUE(feed->pending.empty());
    executor.advance(1);
    state->checkIfDue();
    ASSERT_EQ(feed->pending.size(), 1u);
    EXPECT_EQ(state->lastCheckedAt(), checkedAt + UpdateState::checkSpacing);

    // A failing feed leaves an offer as it was.
    feed->answer(release("1.1"));
    ASSERT_TRUE(state->status()->isUpdateAvailable());
    executor.advance(UpdateState::checkSpacing);
    state->checkIfDue();
    feed->fail();
    EXPECT_EQ(*state->status(), UpdateStatus::updateAvailable(release("1.1")));

    // A stored date in the future holds unattended checks off until 4 hours after it.
    defaults.set(state::PreferenceDate{executor.now() + 1000}, UpdateState::lastCheckedKey);
    executor.advance(UpdateState::checkSpacing);
    state->checkIfDue();
    EXPECT_TRUE(feed->pending.empty());
}

TEST_F(UpdateStateTest, AUserCheckWhoseFeedFailsSaysSoUntilACheckReadsIt) {
    auto state = make();
    state->checkNow();
    feed->fail();
    EXPECT_TRUE(*state->lastUserCheckFailed());
    EXPECT_FALSE(*state->isChecking());
    // An unattended check that fails too says nothing new; one that reads the feed clears it.
    executor.advance(UpdateState::checkSpacing);
    state->checkIfDue();
    feed->fail();
    EXPECT_TRUE(*state->lastUserCheckFailed());
    executor.advance(UpdateState::checkSpacing);
    state->checkIfDue();
    feed->answer(release("1.0.7"));
    EXPECT_FALSE(*state->lastUserCheckFailed());
    state->checkNow();
    feed->fail();
    state->checkNow();
    feed->answer(release("1.0.7"));
    EXPECT_FALSE(*state->lastUserCheckFailed());
}

TEST_F(UpdateStateTest, UserChecksIgnoreTheRolloutWhichPeriodicChecksObey) {
    auto state = make();
    UpdateInfo held = release("1.1");
    held.rolloutStartedAt = "2027-01-15T08:00:00Z"; // the executor's start
    held.rolloutPhaseHours = 10;
    nextBucket = 0.5; // opens 5 hours in

    state->checkNow();
    EXPECT_TRUE(*state->isChecking());
    // A second user check while one runs asks nothing.
    state->checkNow();
    EXPECT_EQ(feed->pending.size(), 1u);
    feed->answer(held);
    EXPECT_FALSE(*state->isChecking());
    EXPECT_EQ(*state->status(), UpdateStatus::updateAvailable(held));
    EXPECT_EQ(draws, 0);

    executor.advance(UpdateState::checkSpacing);
    state->checkIfDue();
    feed->answer(held);
    EXPECT_EQ(*state->status(), UpdateStatus::upToDate());
    EXPECT_EQ(draws, 1);
    EXPECT_EQ(defaults.object(UpdateState::rolloutBucketKey), state::PreferenceValue(0.5));

    executor.advance(UpdateState::checkSpacing);
    state->checkIfDue();
    feed->answer(held);
    EXPECT_EQ(*state->status(), UpdateStatus::updateAvailable(held));
    EXPECT_EQ(draws, 1); // drawn once, then kept

    // A periodic check that finds nothing newer draws nothing; a non-number is replaced.
    defaults.set(state::PreferenceValue(std::string("x")), UpdateState::rolloutBucketKey);
    executor.advance(UpdateState::checkSpacing);
    state->checkIfDue();
    feed->answer(release("1.0.7"));
    EXPECT_EQ(*state->status(), UpdateStatus::upToDate());
    EXPECT_EQ(draws, 1);
    nextBucket = 0.25;
    EXPECT_EQ(state->rolloutBucket(), 0.25);
    EXPECT_EQ(draws, 2);
}

TEST_F(UpdateStateTest, WithoutACurrentVersionNothingIsOffered) {
    auto state = make(std::nullopt);
    state->checkNow();
    feed->answer(release("99.0"));
    EXPECT_EQ(*state->status(), UpdateStatus::upToDate());
}

TEST_F(UpdateStateTest, ObserversHearOnlyRealChanges) {
    auto state = make();
    int changes = 0;
    auto subscription = state->changed().connect([&changes] { ++changes; });
    state->checkNow();              // isChecking on
    feed->answer(release("1.0.7")); // status stays upToDate; isChecking off
    EXPECT_EQ(changes, 2);
    state->checkNow();
    feed->answer(release("1.1")); // isChecking on, status, isChecking off
    EXPECT_EQ(changes, 5);
    state->checkNow();
    feed->answer(release("1.1")); // an equal record: only isChecking
    EXPECT_EQ(changes, 7);
}

TEST_F(UpdateStateTest, DownloadsReportProgressAndEndReadyOrFailed) {
    auto state = make();
    state->startDownload();
    EXPECT_TRUE(loader->requests.empty()); // nothing offered

    offer(*state, release("1.1"));
    bool finished = false;
    state->startDownload([&finished] { finished = true; });
    EXPECT_EQ(*state->download(), DownloadState::downloading(0));
    state->startDownload(); // already downloading
    ASSERT_EQ(loader->requests.size(), 1u);
    EXPECT_EQ(loader->requests[0].info, release("1.1"));

    std::thread([&] { loader->requests[0].progress(0.4); }).join();
    executor.runReady();
    EXPECT_EQ(*state->download(), DownloadState::downloading(0.4));
    auto progress = loader->requests[0].progress;
    loader->finish(0, "/downloads/Meterly-1.1.tar.gz");
    EXPECT_TRUE(finished);
    EXPECT_EQ(*state->download(), DownloadState::ready("/downloads/Meterly-1.1.tar.gz"));
    progress(0.9); // late
    executor.runReady();
    EXPECT_EQ(state->download()->kind(), Kind::ready);

    // From ready a new download starts afresh; failures are worded for the user.
    struct Case {
        std::exception_ptr error;
        std::string message;
    };
    const Case cases[] = {
        {std::make_exception_ptr(UpdateDownloadError(UpdateDownloadError::Kind::digestMissing)),
         "This release didn't publish a checksum."},
        {std::make_exception_ptr(UpdateDownloadError(UpdateDownloadError::Kind::unreachable)),
         "The download wasn't available."},
        {std::make_exception_ptr(UpdateDownloadError(UpdateDownloadError::Kind::digestMismatch)),
         "The download didn't match its checksum."},
        {std::make_exception_ptr(std::runtime_error("Connection refused")), "Connection refused"},
    };
    for (const auto& c : cases) {
        state->retryDownload();
        loader->fail(loader->requests.size() - 1, c.error);
        EXPECT_EQ(*state->download(), DownloadState::failed(c.message));
    }
    EXPECT_EQ(loader->requests.size(), 5u);
}

TEST_F(UpdateStateTest, OnlyTheReleaseTheStatusStillOffersIsInstalled) {
    auto state = make();
    offer(*state, release("1.1"));
    bool done = false;
    state->updateNow([&done] { done = true; });

    // A check lands mid-download and finds the app up to date: the image of 1.1 stays ready and
    // nothing is installed, neither now nor when asked.
    state->checkNow();
    feed->answer(release("1.0.7"));
    loader->finish(0, "/downloads/Meterly-1.1.tar.gz");
    EXPECT_TRUE(done);
    EXPECT_EQ(*state->download(), DownloadState::ready("/downloads/Meterly-1.1.tar.gz"));
    state->install();
    // Nor when the offer has moved on to another release.
    state->checkNow();
    feed->answer(release("1.2"));
    state->install();
    EXPECT_EQ(*state->download(), DownloadState::ready("/downloads/Meterly-1.1.tar.gz"));
    EXPECT_TRUE(installer->callsSoFar().empty());

    // Offered again, the same release is installed; a check that lands meanwhile changes nothing.
    state->checkNow();
    feed->answer(release("1.1"));
    done = false;
    state->install([&done] { done = true; });
    EXPECT_EQ(state->download()->kind(), Kind::installing);
    state->checkNow();
    feed->answer(release("1.0.7"));

    // A second installation is refused while one runs, and so is a new download.
    state->install();
    state->updateNow();
    state->retryDownload();
    EXPECT_EQ(loader->requests.size(), 1u);

    ASSERT_TRUE(executor.runUntil([&done] { return done; }));
    EXPECT_EQ(*state->download(), DownloadState::installed());
    auto calls = installer->callsSoFar();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].image, "/downloads/Meterly-1.1.tar.gz");
    EXPECT_EQ(calls[0].bundle, "/opt/Meterly.app");
    EXPECT_EQ(calls[0].bundleID, "app.meterly");
    EXPECT_EQ(calls[0].version, "1.1");
}

TEST_F(UpdateStateTest, InstallFailuresAndMissingBundlesEndFailed) {
    {
        auto state = make("1.0.7", std::nullopt);
        offer(*state, release("1.1"));
        state->install(); // nothing ready yet
        EXPECT_EQ(*state->download(), DownloadState::idle());
        state->updateNow();
        loader->finish(0, "/downloads/x.tar.gz");
        EXPECT_EQ(*state->download(),
                  DownloadState::failed(std::string(UpdateState::notInBundleMessage)));
        EXPECT_TRUE(installer->callsSoFar().empty());
    }
    {
        installer->error =
            std::make_exception_ptr(UpdateInstallError::wrongVersion("1.1", "1.0.9"));
        auto state = make();
        offer(*state, release("1.1"));
        bool done = false;
        state->updateNow([&done] { done = true; });
        loader->finish(0, "/downloads/x.tar.gz");
        ASSERT_TRUE(executor.runUntil([&done] { return done; }));
        EXPECT_EQ(*state->download(),
                  DownloadState::failed("That image contains version 1.0.9, not the 1.1 that "
                                        "was offered."));
    }
    {
        // A failed download does not install.
        auto state = make();
        offer(*state, release("1.1"));
        installer->calls.clear();
        state->updateNow();
        loader->fail(0, std::make_exception_ptr(
                            UpdateDownloadError(UpdateDownloadError::Kind::unreachable)));
        EXPECT_EQ(state->download()->kind(), Kind::failed);
        EXPECT_TRUE(installer->callsSoFar().empty());
    }
}

TEST_F(UpdateStateTest, TheBundleCountsAsReplacedFromTheStartOfAnInstallationThatSucceeds) {
    installer->hold = true;
    installer->error = std::make_exception_ptr(UpdateInstallError::wrongVersion("1.1", "1.0.9"));
    auto state = make();
    EXPECT_FALSE(state->bundleReplaced());
    offer(*state, release("1.1"));
    bool done = false;
    state->updateNow([&done] { done = true; });
    EXPECT_FALSE(state->bundleReplaced()) << "downloading touches no bundle";
    loader->finish(0, "/downloads/x.tar.gz");
    EXPECT_TRUE(state->bundleReplaced()) << "the swap may come at any moment of an installation";
    installer->release.count_down();
    ASSERT_TRUE(executor.runUntil([&done] { return done; }));
    EXPECT_FALSE(state->bundleReplaced()) << "a failed installation leaves the bundle as it was";

    installer->hold = false;
    installer->error = nullptr;
    done = false;
    state->updateNow([&done] { done = true; });
    loader->finish(1, "/downloads/x.tar.gz");
    ASSERT_TRUE(executor.runUntil([&done] { return done; }));
    EXPECT_EQ(*state->download(), DownloadState::installed());
    EXPECT_TRUE(state->bundleReplaced());
    // For good: a later installation that fails does not put the old bundle back.
    installer->error = std::make_exception_ptr(UpdateInstallError::wrongVersion("1.1", "1.0.9"));
    done = false;
    state->updateNow([&done] { done = true; });
    loader->finish(2, "/downloads/x.tar.gz");
    ASSERT_TRUE(executor.runUntil([&done] { return done; }));
    EXPECT_EQ(state->download()->kind(), Kind::failed);
    EXPECT_TRUE(state->bundleReplaced());
}

TEST_F(UpdateStateTest, DestroyingTheStateWaitsForARunningInstallation) {
    installer->hold = true;
    auto state = make();
    offer(*state, release("1.1"));
    state->updateNow();
    loader->finish(0, "/downloads/x.tar.gz");
    installer->started.wait();
    std::thread releaser([this] { installer->release.count_down(); });
    state.reset();
    EXPECT_TRUE(installer->finished);
    releaser.join();
    executor.runReady(); // the installation's result finds the state gone
}

TEST_F(UpdateStateTest, TheViewModelChecksAtEachStartAndThenWhenFourHoursHavePassed) {
    std::shared_ptr<UpdateState> updates = make();
    UpdateInfo held = release("1.1");
    held.rolloutStartedAt = "2027-01-15T08:00:00Z"; // the executor's start
    held.rolloutPhaseHours = 1000;
    nextBucket = 0.9;
    auto source = std::make_shared<state::testing::ScriptedSource>(executor);
    state::UsageViewModel model(executor, defaults, nullptr,
                                std::make_shared<state::testing::RecordingNotifier>(), updates);

    // The check at start ignores the rollout; a second start while it runs asks nothing more.
    model.start(source);
    model.start(source);
    executor.runReady();
    ASSERT_EQ(feed->pending.size(), 1u);
    feed->answer(held);
    EXPECT_EQ(*updates->status(), UpdateStatus::updateAvailable(held));
    model.start(source);
    ASSERT_EQ(feed->pending.size(), 1u);
    feed->answer(held);

    // The loop asks every ten minutes; the first check comes at the tick four hours after the
    // last one, and the rollout holds this installation back.
    executor.advance(UpdateState::checkSpacing - 1);
    EXPECT_TRUE(feed->pending.empty());
    executor.advance(1);
    ASSERT_EQ(feed->pending.size(), 1u);
    feed->answer(held);
    EXPECT_EQ(*updates->status(), UpdateStatus::upToDate());
    model.stop();
}

} // namespace
} // namespace meterly::update
