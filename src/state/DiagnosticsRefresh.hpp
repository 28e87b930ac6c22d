#pragma once

#include "core/Time.hpp"
#include "state/ChangeSignal.hpp"
#include "state/Observable.hpp"
#include "state/ProxyDiagnostics.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace meterly::state {

class BlockingWorker;
class ProxyDiagnosticsReader;
class SetupModel;

// The settings window's look at the connection: the last diagnostics read, whether a read, a
// restart of the agent or a repair is running, and the actions of the proxy pane that end in a
// fresh read. Lives on the main executor; the reads and the agent's restart run elsewhere.
//
// Reads may finish out of order: only the newest one writes its result, and `refreshing` stays
// true until it has finished. A restart or a repair is followed by a read once it has ended.
class DiagnosticsRefresh {
public:
    using ReadDone = std::function<void(ProxyDiagnostics)>;
    struct Operations {
        // Reads the diagnostics with the time of the last known request through the proxy.
        std::function<void(std::optional<core::Date> lastTraffic, ReadDone done)> read;
        // Restarts the agent; `done` runs once it has ended, whatever the outcome.
        std::function<void(std::function<void()> done)> restartAgent;
        // Repairs the agent's executable for a port; `done` runs once the repair has ended.
        std::function<void(std::uint16_t port, std::function<void()> done)> repair;
        // The time of the last request through the proxy the app knows of, read at each refresh.
        std::function<std::optional<core::Date>()> lastTraffic;
    };

    explicit DiagnosticsRefresh(Operations operations);
    // The operations of the app: reads on `reads`, restarts on the installer's `agentWorker`,
    // repairs through `setup`. Each of the three outlives this object.
    static Operations standard(const ProxyDiagnosticsReader& reader, BlockingWorker& reads,
                               BlockingWorker& agentWorker, SetupModel& setup,
                               std::function<std::optional<core::Date>()> lastTraffic);
    ~DiagnosticsRefresh();
    DiagnosticsRefresh(const DiagnosticsRefresh&) = delete;
    DiagnosticsRefresh& operator=(const DiagnosticsRefresh&) = delete;

    // None until the first read has finished.
    const std::optional<ProxyDiagnostics>& diagnostics() const { return diagnostics_.get(); }
    bool refreshing() const { return refreshing_.get(); }
    bool restarting() const { return restarting_.get(); }
    bool repairing() const { return repairing_.get(); }

    void refresh();
    // Ignored while a restart runs.
    void restartAgent();
    // Ignored while a repair runs.
    void repair(std::uint16_t port);

    ChangeSignal& changed() { return changed_; }

private:
    Operations operations_;
    ChangeSignal changed_;
    Observable<std::optional<ProxyDiagnostics>> diagnostics_{std::nullopt, &changed_};
    Observable<bool> refreshing_{false, &changed_};
    Observable<bool> restarting_{false, &changed_};
    Observable<bool> repairing_{false, &changed_};
    std::uint64_t newestRead_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace meterly::state
