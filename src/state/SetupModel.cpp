#include "state/SetupModel.hpp"

#include "config/ConfigError.hpp"
#include "config/PortSelector.hpp"
#include "config/SelfCheck.hpp"

#include <iostream>

namespace meterly::state {

using config::ClaudeSettingsFile;
using config::ConfigError;
using config::PortSelector;
using config::ProxyInstaller;

namespace {

using Policy = ClaudeSettingsFile::ConflictPolicy;

constexpr std::string_view repairFailed = "meterly: could not repair the proxy's service: ";

} // namespace

std::string describeError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "An unknown error occurred.";
    }
}

SetupModel::SetupModel(BlockingWorker& worker, ClaudeSettingsFile settings,
                       MakeInstaller makeInstaller, bool startsAgent, Options options)
    : worker_(worker), settings_(std::move(settings)), makeInstaller_(std::move(makeInstaller)),
      startsAgent_(startsAgent), options_(std::move(options)) {
    if (!options_.portProbe) {
        options_.portProbe = [](std::uint16_t port) {
            return config::ProxyHealthProbe(port, "127.0.0.1", 1, 0.5).isHealthy();
        };
    }
    if (!options_.installProbe) {
        options_.installProbe = [](std::uint16_t) {
            return std::optional<config::ProxyHealthProbe>();
        };
    }
    if (!options_.fileExists) {
        options_.fileExists = config::SelfCheck::fileExistsOnDisk;
    }
    if (!options_.log) {
        options_.log = [](const std::string& line) { std::cerr << (line + "\n") << std::flush; };
    }
}

SetupModel::~SetupModel() {
    // Work already given to the worker finishes there; its outcome finds the model gone.
    *alive_ = false;
}

SetupModel::MakeInstaller SetupModel::bundledInstaller(std::filesystem::path homeDirectory) {
    return [home = std::move(homeDirectory)](std::uint16_t port) {
        return ProxyInstaller::bundled(port, home);
    };
}

bool SetupModel::isBusy() const {
    return state().kind == State::Kind::checking || state().kind == State::Kind::working;
}

bool SetupModel::canAdopt(const ClaudeSettingsFile::Inspection& found) {
    return found.existingIsLoopback && found.backupExists;
}

void SetupModel::refresh() {
    if (state().kind == State::Kind::working) {
        return;
    }
    ClaudeSettingsFile::Inspection found;
    try {
        found = settings_.inspect();
    } catch (...) {
        fail(Operation::setUp, describeError(std::current_exception()));
        return;
    }
    if (!found.existingBaseURL) {
        state_.set(State::notConfigured());
        return;
    }
    if (!found.existingIsLoopback) {
        state_.set(State::conflict(*found.existingBaseURL, false));
        return;
    }
    if (auto port = PortSelector::port(*found.existingBaseURL)) {
        repairInstallation(*port);
        state_.set(State::configured(*port));
        return;
    }
    state_.set(State::conflict(*found.existingBaseURL, canAdopt(found)));
}

void SetupModel::setUp() {
    install(Policy::refuse);
}

void SetupModel::resolveConflict(bool adopt) {
    install(adopt ? Policy::adoptLocal : Policy::force);
}

void SetupModel::retry() {
    switch (failedOperation_) {
    case Operation::setUp:
        install(Policy::refuse);
        return;
    case Operation::adopt:
        install(Policy::adoptLocal);
        return;
    case Operation::replace:
        install(Policy::force);
        return;
    case Operation::disconnect:
        disconnect();
        return;
    }
}

void SetupModel::fail(Operation operation, std::string message) {
    failedOperation_ = operation;
    state_.set(State::failed(std::move(message)));
}

void SetupModel::install(Policy policy) {
    if (state().kind == State::Kind::working) {
        return;
    }
    state_.set(State::working());
    needsSessionRestart_.set(false);
    const Operation operation = policy == Policy::refuse       ? Operation::setUp
                                : policy == Policy::adoptLocal ? Operation::adopt
                                                               : Operation::replace;

    worker_.run(
        [settings = settings_, makeInstaller = makeInstaller_, options = options_,
         startsAgent = startsAgent_, policy]() -> std::optional<ProxyInstaller::InstallReport> {
            auto port = ProxyInstaller::resolvePort(
                settings, std::nullopt, options.scanFrom.value_or(PortSelector::defaultPort()),
                options.portProbe);
            auto installer = makeInstaller(port);
            if (!installer) {
                return std::nullopt;
            }
            return installer->install(port, policy, startsAgent, options.installProbe(port));
        },
        [this, alive = alive_,
         operation](Outcome<std::optional<ProxyInstaller::InstallReport>> outcome) {
            if (!*alive) {
                return;
            }
            if (!outcome.ok()) {
                installFailed(operation, outcome.error());
                return;
            }
            if (!outcome.get()) {
                fail(operation, installWithoutBundleMessage);
                return;
            }
            needsSessionRestart_.set(true);
            state_.set(State::configured(outcome.get()->port));
        });
}

void SetupModel::installFailed(Operation operation, std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const ConfigError& failure) {
        if (failure.kind() == ConfigError::Kind::conflictingBaseURL) {
            bool adoptable = false;
            try {
                adoptable = canAdopt(settings_.inspect());
            } catch (...) {
                // Unreadable now: reusing the value is not offered.
            }
            state_.set(State::conflict(failure.existing(), adoptable));
            return;
        }
    } catch (...) {
        // Any other error: shown as a failure below.
    }
    fail(operation, describeError(error));
}

void SetupModel::disconnect() {
    if (state().kind == State::Kind::working) {
        return;
    }
    state_.set(State::working());

    worker_.run(
        [settings = settings_, makeInstaller = makeInstaller_,
         stopAgent = startsAgent_]() -> std::optional<ProxyInstaller::UninstallReport> {
            std::uint16_t port = PortSelector::defaultPort();
            try {
                port = settings.inspect().loopbackPort().value_or(port);
            } catch (...) {
                // An unreadable file still lets the agent go; the removal reports the file.
            }
            auto installer = makeInstaller(port);
            if (!installer) {
                return std::nullopt;
            }
            return installer->uninstall(false, stopAgent);
        },
        [this, alive = alive_](Outcome<std::optional<ProxyInstaller::UninstallReport>> outcome) {
            if (!*alive) {
                return;
            }
            if (!outcome.ok()) {
                fail(Operation::disconnect, describeError(outcome.error()));
                return;
            }
            if (!outcome.get()) {
                fail(Operation::disconnect, disconnectWithoutBundleMessage);
                return;
            }
            needsSessionRestart_.set(true);
            state_.set(State::notConfigured());
        });
}

void SetupModel::repairInstallation(std::uint16_t port, std::function<void()> finished) {
    // After an update's swap this process's own executable is the kept copy: a repair would point
    // the agent at the old version and cut the proxy's connections for nothing.
    if (options_.bundleReplaced && options_.bundleReplaced()) {
        if (finished) {
            finished();
        }
        return;
    }
    if (repairing_) {
        // An automatic repair while one runs is dropped; one the user asked for waits its turn.
        if (finished) {
            waitingRepairs_.push_back({port, std::move(finished)});
        }
        return;
    }
    startRepair({port, std::move(finished)});
}

void SetupModel::startRepair(Repair repair) {
    repairing_ = true;
    const bool userAsked = static_cast<bool>(repair.finished);
    struct Result {
        // The drifted path now repaired: later automatic repairs leave it alone.
        std::optional<std::string> repairedPath;
        // What went wrong, for the log.
        std::optional<std::string> problem;
    };
    worker_.run(
        [makeInstaller = makeInstaller_, fileExists = options_.fileExists,
         done = userAsked ? std::set<std::string>() : repairedPaths_,
         port = repair.port]() -> Result {
            auto installer = makeInstaller(port);
            if (!installer) {
                return {};
            }
            auto drift = installer->executableDrift(fileExists);
            if (!drift || done.contains(drift->installedPath)) {
                return {};
            }
            const auto& own = installer->agent().spec().programArguments;
            if (own.empty() || !fileExists(own.front())) {
                return {};
            }
            try {
                installer->agent().writePlist();
            } catch (...) {
                // Not restarted: over a definition that could not be written that would only cut
                // the running proxy's connections.
                return {std::nullopt,
                        std::string(repairFailed) + describeError(std::current_exception())};
            }
            try {
                installer->agent().kickstart();
            } catch (...) {
                return {drift->installedPath,
                        "meterly: the proxy's service was repaired but did not restart: " +
                            describeError(std::current_exception())};
            }
            return {drift->installedPath, std::nullopt};
        },
        [this, alive = alive_, finished = std::move(repair.finished)](Outcome<Result> outcome) {
            if (!*alive) {
                return;
            }
            repairing_ = false;
            if (!outcome.ok()) {
                options_.log(std::string(repairFailed) + describeError(outcome.error()));
            } else {
                if (outcome.get().repairedPath) {
                    repairedPaths_.insert(*outcome.get().repairedPath);
                }
                if (outcome.get().problem) {
                    options_.log(*outcome.get().problem);
                }
            }
            if (!waitingRepairs_.empty()) {
                auto next = std::move(waitingRepairs_.front());
                waitingRepairs_.erase(waitingRepairs_.begin());
                startRepair(std::move(next));
            }
            if (finished) {
                finished();
            }
        });
}

} // namespace meterly::state
