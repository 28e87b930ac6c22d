#include "state/DiagnosticsRefresh.hpp"

#include "state/BlockingWorker.hpp"
#include "state/ProxyDiagnosticsReader.hpp"
#include "state/SetupModel.hpp"

namespace meterly::state {

DiagnosticsRefresh::DiagnosticsRefresh(Operations operations)
    : operations_(std::move(operations)) {}

DiagnosticsRefresh::~DiagnosticsRefresh() {
    *alive_ = false;
}

DiagnosticsRefresh::Operations
DiagnosticsRefresh::standard(const ProxyDiagnosticsReader& reader, BlockingWorker& reads,
                             BlockingWorker& agentWorker, SetupModel& setup,
                             std::function<std::optional<core::Date>()> lastTraffic) {
    Operations operations;
    operations.read = [reader, &reads](std::optional<core::Date> last, ReadDone done) {
        reader.read(reads, last, std::move(done));
    };
    operations.restartAgent = [reader, &agentWorker](std::function<void()> done) {
        // A failed restart is not reported: the read that follows shows the agent as it is.
        reader.restartAgent(agentWorker, [done = std::move(done)](Outcome<bool>) { done(); });
    };
    operations.repair = [&setup](std::uint16_t port, std::function<void()> done) {
        setup.repairInstallation(port, std::move(done));
    };
    operations.lastTraffic = std::move(lastTraffic);
    return operations;
}

void DiagnosticsRefresh::refresh() {
    const auto number = ++newestRead_;
    refreshing_.set(true);
    auto last = operations_.lastTraffic ? operations_.lastTraffic() : std::nullopt;
    operations_.read(last, [this, alive = alive_, number](ProxyDiagnostics found) {
        if (!*alive || number != newestRead_) {
            // A later read was asked for: its result is the one to show.
            return;
        }
        diagnostics_.set(std::move(found));
        refreshing_.set(false);
    });
}

void DiagnosticsRefresh::restartAgent() {
    if (restarting_.get()) {
        return;
    }
    restarting_.set(true);
    operations_.restartAgent([this, alive = alive_] {
        if (!*alive) {
            return;
        }
        restarting_.set(false);
        refresh();
    });
}

void DiagnosticsRefresh::repair(std::uint16_t port) {
    if (repairing_.get()) {
        return;
    }
    repairing_.set(true);
    operations_.repair(port, [this, alive = alive_] {
        if (!*alive) {
            return;
        }
        repairing_.set(false);
        refresh();
    });
}

} // namespace meterly::state
