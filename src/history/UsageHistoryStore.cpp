#include "history/UsageHistoryStore.hpp"

#include <cmath>

namespace meterly::history {

std::filesystem::path UsageHistoryStore::defaultRoot(const core::EnvironmentLookup& environment,
                                                     const std::filesystem::path& homeFolder) {
    if (environment) {
        if (auto configured = environment("CLAUDE_CONFIG_DIR");
            configured && !configured->empty()) {
            return std::filesystem::path(*configured) / "projects";
        }
    }
    return homeFolder / ".claude" / "projects";
}

UsageHistoryStore::UsageHistoryStore(const std::filesystem::path& root, core::Seconds retention,
                                     const std::filesystem::path& homeFolder,
                                     std::shared_ptr<const Calendar> calendar, std::size_t workers)
    : root_(TranscriptScanner::standardize(root)), scanner_(root_, workers),
      aggregator_(retention, ProjectRootResolver(homeFolder), std::move(calendar)) {}

ScanSummary UsageHistoryStore::refresh() {
    std::lock_guard lock(mutex_);
    return refreshLocked();
}

ScanSummary UsageHistoryStore::refreshLocked() {
    ScanSummary summary;
    {
        auto scan = scanner_.scan();
        const auto read = static_cast<std::int64_t>(scan.entries.size());
        const std::int64_t accepted = aggregator_.ingest(scan.entries);
        summary = scan.summary;
        summary.newEntries = accepted;
        summary.duplicateLines = read - accepted;
    }
    lastSummary_ = summary;
    return summary;
}

UsageHistoryReport UsageHistoryStore::report(core::Date now) {
    std::lock_guard lock(mutex_);
    return aggregator_.report(now);
}

UsageHistoryReport UsageHistoryStore::refreshAndReport(core::Date now) {
    std::lock_guard lock(mutex_);
    refreshLocked();
    return aggregator_.report(now);
}

WindowUsage UsageHistoryStore::usage(core::Seconds inLast, core::Date now) {
    const core::Seconds span = std::isnan(inLast) || inLast < 0 ? 0 : inLast;
    std::lock_guard lock(mutex_);
    return aggregator_.windowUsage(now - span, now);
}

ScanSummary UsageHistoryStore::diagnostics() const {
    std::lock_guard lock(mutex_);
    return lastSummary_;
}

} // namespace meterly::history
