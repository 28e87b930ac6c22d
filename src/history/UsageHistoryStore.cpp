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
                                     std::shared_ptr<const Calendar> calendar, std::size_t workers,
                                     core::Clock clock)
    : root_(TranscriptScanner::standardize(root)), scanner_(root_, workers),
      aggregator_(retention, ProjectRootResolver(homeFolder), std::move(calendar)),
      clock_(clock ? std::move(clock) : core::Clock(core::systemNow)) {}

ScanSummary UsageHistoryStore::refresh() {
    std::lock_guard lock(mutex_);
    return refreshLocked(clock_());
}

ScanSummary UsageHistoryStore::refreshLocked(core::Date now) {
    // Each file's entries are folded in as soon as they are read, so a first scan never holds
    // the whole tree's lines at once.
    std::int64_t read = 0;
    std::int64_t accepted = 0;
    ScanSummary summary = scanner_.scan([&](std::vector<UsageEntry>& entries) {
        read += static_cast<std::int64_t>(entries.size());
        accepted += aggregator_.accept(entries);
    });
    // Entries dated after the refresh, and those of files that are gone, move no cut-off.
    std::optional<core::Date> anchor = scanner_.newestEntry();
    if (anchor && now < *anchor) {
        anchor = now;
    }
    aggregator_.endBatch(anchor);
    summary.newEntries = accepted;
    summary.duplicateLines = read - accepted;
    lastSummary_ = summary;
    return summary;
}

UsageHistoryReport UsageHistoryStore::report(core::Date now) {
    std::lock_guard lock(mutex_);
    return aggregator_.report(now);
}

UsageHistoryReport UsageHistoryStore::refreshAndReport(core::Date now) {
    std::lock_guard lock(mutex_);
    refreshLocked(now);
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
