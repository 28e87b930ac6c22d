#pragma once

#include "core/Environment.hpp"
#include "core/Time.hpp"
#include "history/Calendar.hpp"
#include "history/ScanSummary.hpp"
#include "history/TranscriptScanner.hpp"
#include "history/UsageHistoryAggregator.hpp"
#include "history/UsageHistoryReport.hpp"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace meterly::history {

// The one way into the transcript history: scans Claude Code's transcripts incrementally on
// every refresh, feeds what is new to the aggregator and hands out reports. Every operation
// runs under one lock, so a refresh and the report that follows it are never interleaved with
// another call. Nothing is persisted: a new store reads every transcript from its start.
class UsageHistoryStore {
public:
    // Claude Code's projects folder: "projects" in the folder that CLAUDE_CONFIG_DIR names when
    // it is set and not empty (as written: no tilde expansion, a relative path counts from the
    // current folder), else ".claude/projects" in the home folder.
    static std::filesystem::path defaultRoot(const core::EnvironmentLookup& environment,
                                             const std::filesystem::path& homeFolder);

    // Nothing is read here. `retention` is how far back the windows reach, counted from the
    // newest response in the transcripts still there, or from the time of the refresh when that
    // is earlier; `homeFolder` is never taken as a repository when projects are folded. `clock`
    // gives the time of a refresh that is not given one.
    UsageHistoryStore(const std::filesystem::path& root, core::Seconds retention,
                      const std::filesystem::path& homeFolder,
                      std::shared_ptr<const Calendar> calendar = localCalendar(),
                      std::size_t workers = TranscriptScanner::defaultWorkers(),
                      core::Clock clock = core::systemNow);

    // The projects folder, standardised.
    const std::filesystem::path& root() const { return root_; }

    // One scan and ingest; its counters are also kept as the diagnostics.
    ScanSummary refresh();
    // A report of what is held, without scanning.
    UsageHistoryReport report(core::Date now);
    // A refresh followed by a report.
    UsageHistoryReport refreshAndReport(core::Date now);
    // The use within the `inLast` seconds before `now`, without scanning. A negative span or
    // one that is not a number counts as 0; an infinite one reaches over everything retained.
    WindowUsage usage(core::Seconds inLast, core::Date now);
    // The counters of the last refresh; all 0 before the first.
    ScanSummary diagnostics() const;

private:
    ScanSummary refreshLocked(core::Date now);

    const std::filesystem::path root_;
    mutable std::mutex mutex_;
    TranscriptScanner scanner_;
    UsageHistoryAggregator aggregator_;
    ScanSummary lastSummary_;
    core::Clock clock_;
};

} // namespace meterly::history
