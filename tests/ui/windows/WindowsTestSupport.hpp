#pragma once

#include "../ModelFakes.hpp"
#include "config/ProcessRunner.hpp"
#include "config/ProxyInstaller.hpp"
#include "config/SystemdUserBackend.hpp"
#include "core/Environment.hpp"
#include "state/BlockingWorker.hpp"
#include "support/MemoryPreferences.hpp"
#include "state/NotificationPreferences.hpp"
#include "state/SetupModel.hpp"
#include "state/UsageNotifier.hpp"
#include "state/UsageViewModel.hpp"
#include "support/VirtualTimeExecutor.hpp"
#include "support/LocalHTTPServer.hpp"
#include "support/TempDir.hpp"
#include "ui/update/UpdateStateOffer.hpp"
#include "update/UpdateBackend.hpp"
#include "update/UpdateDownloading.hpp"
#include "update/UpdateState.hpp"

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace meterly::ui::testing {

inline core::EnvironmentLookup noVariables() {
    return [](std::string_view) { return std::optional<std::string>(); };
}

// A setup model over Claude Code's settings in a temporary home that installs and removes only
// the settings entry (no agent is started or stopped), on a port that is free.
struct SetupFixture {
    meterly::testing::TempDir home;
    state::VirtualTimeExecutor main;
    state::BlockingWorker worker{main};
    std::uint16_t port = 0;
    std::unique_ptr<state::SetupModel> model;

    explicit SetupFixture(bool withInstaller = true) {
        meterly::testing::ReservedPort free;
        port = free.port();
        free.release();
        state::SetupModel::Options options;
        options.scanFrom = port;
        options.portProbe = [](std::uint16_t) { return false; };
        auto backend = std::make_shared<config::SystemdUserBackend>(
            std::make_shared<config::PosixProcessRunner>(), noVariables(),
            (home.path() / "no-systemctl").string());
        state::SetupModel::MakeInstaller make;
        if (withInstaller) {
            make = [this, backend](std::uint16_t p) {
                return std::optional(
                    config::ProxyInstaller::standard("/opt/Meterly.app/Contents/MacOS/meterly", p,
                                                     home.path(), noVariables(), backend));
            };
        } else {
            make = [](std::uint16_t) { return std::optional<config::ProxyInstaller>(); };
        }
        model =
            std::make_unique<state::SetupModel>(worker, config::ClaudeSettingsFile(settingsPath()),
                                                std::move(make), false, std::move(options));
    }

    std::filesystem::path settingsPath() const { return home.path() / ".claude/settings.json"; }
    void writeSettings(const std::string& contents) {
        home.write(".claude/settings.json", contents);
    }
    void writeBaseURL(const std::string& baseURL) {
        writeSettings(R"({"env": {"ANTHROPIC_BASE_URL": ")" + baseURL + R"("}})");
    }
    // Runs the main executor until the worker is idle and its outcomes have run.
    bool settle() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (worker.pending() > 0 && std::chrono::steady_clock::now() < deadline) {
            main.runUntil([this] { return worker.pending() == 0; }, std::chrono::milliseconds(5));
        }
        main.runReady();
        return worker.pending() == 0;
    }
};

// The usage view model over preferences in memory, with no source started.
struct UsageFixture {
    explicit UsageFixture(state::MainExecutor& main)
        : notifier(std::make_shared<QuietNotifier>()),
          model(main, defaults, std::make_shared<state::NotificationPreferences>(defaults),
                notifier, nullptr) {}
    state::MemoryPreferences defaults;
    std::shared_ptr<QuietNotifier> notifier;
    state::UsageViewModel model;
};

// A feed that answers when the test says so.
class HeldFeed final : public update::UpdateBackend {
public:
    std::vector<Done> pending;
    void fetchLatest(Done done) override { pending.push_back(std::move(done)); }
    void answer(const std::string& version) {
        update::UpdateInfo info;
        info.latestVersion = version;
        info.downloadURL = "https://meterly.app/Meterly-" + version + ".tar.gz";
        take()(state::Outcome<update::UpdateInfo>::success(info));
    }
    void fail() {
        take()(state::Outcome<update::UpdateInfo>::failure(
            std::make_exception_ptr(std::runtime_error("offline"))));
    }

private:
    Done take() {
        auto done = std::move(pending.front());
        pending.erase(pending.begin());
        return done;
    }
};

class NoDownloads final : public update::UpdateDownloading {
public:
    void download(const update::UpdateInfo&, Progress, Done) override {}
};

// The update state of version 1.0.7 over a feed the test answers, and the offer the views show.
struct HeldUpdates {
    explicit HeldUpdates(state::VirtualTimeExecutor& main)
        : updates(main, store, main.clock(), collaborators(answers)), offer(updates) {}
    HeldFeed* answers = nullptr;
    state::MemoryPreferences store;
    update::UpdateState updates;
    UpdateStateOffer offer;

private:
    static update::UpdateState::Collaborators collaborators(HeldFeed*& answers) {
        auto feed = std::make_unique<HeldFeed>();
        answers = feed.get();
        update::UpdateState::Collaborators parts;
        parts.backend = std::move(feed);
        parts.downloader = std::make_unique<NoDownloads>();
        parts.currentVersion = "1.0.7";
        return parts;
    }
};

} // namespace meterly::ui::testing
