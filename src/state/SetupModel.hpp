#pragma once

#include "config/ClaudeSettingsFile.hpp"
#include "config/ProxyHealthProbe.hpp"
#include "config/ProxyInstaller.hpp"
#include "state/BlockingWorker.hpp"
#include "state/ChangeSignal.hpp"
#include "state/Observable.hpp"

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace meterly::state {

// Connecting Claude Code to the proxy: reads Claude Code's settings file to tell whether Claude
// Code already goes through the proxy, installs and removes the connection (the agent and the
// settings entry) through the installer, and silently repairs an agent whose executable has moved.
// The setup window, the popover's "Not connected" row and the proxy pane draw from `state()`.
//
// Lives on the main executor. The settings file is read there (a small file); everything that
// runs a child process, probes the network or writes goes to the installer's serial worker, and
// its outcome comes back to the main executor. While an install or a disconnect runs (state
// `working`), further installs and disconnects are ignored, so two of them never overlap.
class SetupModel {
public:
    struct State {
        enum class Kind {
            configured,    // the settings' base URL is a loopback URL with an explicit port
            conflict,      // the settings name a base URL the model does not treat as its own
            failed,        // the last inspection, install or disconnect failed
            checking,      // before the first inspection
            notConfigured, // the settings name no base URL (or do not exist)
            working,       // an install or a disconnect is running
        };

        Kind kind = Kind::checking;
        std::uint16_t port = 0; // configured
        std::string existing;   // conflict: the base URL found
        bool canAdopt = false;  // conflict: reusing it is offered
        std::string message;    // failed: shown unchanged

        static State configured(std::uint16_t port) {
            return {Kind::configured, port, {}, false, {}};
        }
        static State conflict(std::string existing, bool canAdopt) {
            return {Kind::conflict, 0, std::move(existing), canAdopt, {}};
        }
        static State failed(std::string message) {
            return {Kind::failed, 0, {}, false, std::move(message)};
        }
        static State checking() { return {}; }
        static State notConfigured() { return {Kind::notConfigured, 0, {}, false, {}}; }
        static State working() { return {Kind::working, 0, {}, false, {}}; }

        bool operator==(const State&) const = default;
    };

    using MakeInstaller = std::function<std::optional<config::ProxyInstaller>(std::uint16_t port)>;
    using FileExists = config::ProxyInstaller::FileExists;

    // What the model asks of the outside world beyond the installer; tests pass their own.
    struct Options {
        // Where the free-port scan starts; the installation's default port when none.
        std::optional<std::uint16_t> scanFrom;
        // Whether a proxy answers on a busy port that the settings already name: by default one
        // health check on 127.0.0.1.
        std::function<bool(std::uint16_t port)> portProbe;
        // The wait for the newly started agent; the installer's own (20 tries 0.5 s apart) when
        // none.
        std::function<std::optional<config::ProxyHealthProbe>(std::uint16_t port)> installProbe;
        // The existence test of the repair.
        FileExists fileExists;
        // Whether an update has replaced (or is replacing) the bundle this process runs from:
        // its own executable then names the kept copy, so no repair is made (the relaunched copy
        // makes it). None: never.
        std::function<bool()> bundleReplaced;
        // Where a repair that failed is reported; standard error when none.
        std::function<void(const std::string& line)> log;
    };

    static constexpr const char* installWithoutBundleMessage =
        "Meterly could not locate its own application bundle. Run scripts/run to install "
        "Meterly.app in ~/.local/share/meterly/ and try again.";
    static constexpr const char* disconnectWithoutBundleMessage =
        "Meterly could not locate its own application bundle. Run scripts/uninstall.sh to "
        "disconnect manually.";

    // `worker` is the installer's serial worker, shared with whatever else drives the agent.
    SetupModel(BlockingWorker& worker, config::ClaudeSettingsFile settings,
               MakeInstaller makeInstaller, bool startsAgent, Options options = {});
    ~SetupModel();
    SetupModel(const SetupModel&) = delete;
    SetupModel& operator=(const SetupModel&) = delete;

    // The installer for the running executable in `homeDirectory`; none when it cannot be found.
    static MakeInstaller bundledInstaller(std::filesystem::path homeDirectory);

    const State& state() const { return state_.get(); }
    bool needsSessionRestart() const { return needsSessionRestart_.get(); }
    bool isBusy() const;
    bool isConfigured() const { return state().kind == State::Kind::configured; }

    const config::ClaudeSettingsFile& settings() const { return settings_; }
    bool startsAgent() const { return startsAgent_; }

    // Re-reads the settings file and sets the state; does nothing while working. A loopback base
    // URL with a port also starts the repair of a moved agent executable.
    void refresh();
    // Connects, refusing another base URL (which then shows as a conflict).
    void setUp();
    // Connects over the other base URL: reusing it (a loopback one) or replacing it.
    void resolveConflict(bool adopt);
    // Takes the connection out again.
    void disconnect();
    // "Try again" of a failed state: repeats the operation that failed (a disconnect, or an
    // install with the same choice); a failed reading of the settings is followed by a set-up.
    void retry();
    // Rewrites and restarts the agent when its executable has moved or vanished and this
    // application's own executable exists, unless an update has replaced this process's bundle.
    // One repair at a time; each drifted path is repaired once (a repair whose rewrite failed is
    // logged and tried again at the next refresh). Nothing of the outcome reaches the state.
    //
    // A repair the user asks for passes `finished`: it is repaired even when the same path was
    // repaired before, waits for a repair already running, and `finished` runs on the main
    // executor once it has ended (whatever it found or did).
    void repairInstallation(std::uint16_t port, std::function<void()> finished = {});
    void acknowledgeSessionRestart() { needsSessionRestart_.set(false); }

    // Something observable changed (state or needsSessionRestart).
    ChangeSignal& changed() { return changed_; }
    Observable<State>& stateProperty() { return state_; }
    Observable<bool>& needsSessionRestartProperty() { return needsSessionRestart_; }

private:
    // What a failed state came from, so that "Try again" repeats it.
    enum class Operation { setUp, adopt, replace, disconnect };
    struct Repair {
        std::uint16_t port;
        std::function<void()> finished;
    };

    void install(config::ClaudeSettingsFile::ConflictPolicy policy);
    void fail(Operation operation, std::string message);
    void startRepair(Repair repair);
    void installFailed(Operation operation, std::exception_ptr error);
    // The inspection's conflict rule: a loopback value with a backup beside the file may be reused.
    static bool canAdopt(const config::ClaudeSettingsFile::Inspection& found);

    BlockingWorker& worker_;
    config::ClaudeSettingsFile settings_;
    MakeInstaller makeInstaller_;
    bool startsAgent_;
    Options options_;

    ChangeSignal changed_;
    Observable<State> state_{State::checking(), &changed_};
    Observable<bool> needsSessionRestart_{false, &changed_};

    Operation failedOperation_ = Operation::setUp;
    bool repairing_ = false;
    std::set<std::string> repairedPaths_;
    // Repairs the user asked for while another ran.
    std::vector<Repair> waitingRepairs_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The user-facing sentence of an error thrown by the connection code.
std::string describeError(std::exception_ptr error);

} // namespace meterly::state
