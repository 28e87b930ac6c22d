#pragma once

#include "core/Time.hpp"
#include "history/Calendar.hpp"
#include "history/ProjectRootResolver.hpp"
#include "history/TokenUsage.hpp"
#include "history/UsageEntry.hpp"
#include "history/UsageHistoryReport.hpp"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace meterly::history {

// Everything the history knows, in memory: responses de-duplicated by message identifier,
// all-time totals per session, project folder and model, and the individual responses of the
// retention period (counted back from the newest response, not from the clock, though never
// from a time after the present) for the time windows. Not synchronised: one caller at a time.
class UsageHistoryAggregator {
public:
    // `retention` in seconds; a negative or NaN retention keeps only the newest instant, an
    // infinite one keeps everything. Hours and days are counted in `calendar`.
    UsageHistoryAggregator(core::Seconds retention, ProjectRootResolver projectRoots,
                           std::shared_ptr<const Calendar> calendar = localCalendar());

    // Accepts the entries in order, then drops the responses that fell out of the retention
    // period, counted back from the newest response or from `now` when that is earlier (a
    // response dated after `now` moves nothing). Returns how many were accepted (the others
    // repeat a known message).
    std::int64_t ingest(const std::vector<UsageEntry>& entries,
                        core::Date now = std::numeric_limits<core::Date>::infinity());
    // Accepts one entry without pruning; false when its message was already counted.
    bool ingest(const UsageEntry& entry);

    // The two halves of a batch, for a caller that hands over its entries in several parts:
    // accept() takes each part in order, without pruning (accepted responses reach the windows
    // at endBatch); endBatch() then drops the responses older than `anchor` minus the retention
    // (none without an anchor) and sets the horizon.
    std::int64_t accept(const std::vector<UsageEntry>& entries);
    void endBatch(std::optional<core::Date> anchor);

    // The retained responses with since <= timestamp <= now.
    WindowUsage windowUsage(core::Date since, core::Date now) const;
    // `hours` clock hours, oldest first, ending with the hour that holds `now`.
    std::vector<RequestBucket> requestsByHour(core::Date now, int hours) const;
    // Retained responses between `since` and `now` by repository root, most tokens first.
    std::vector<ProjectSpend> topProjects(core::Date since, core::Date now) const;
    // Retained responses between `since` and `now` by model, most tokens first.
    std::vector<ModelUsage> topModels(core::Date since, core::Date now) const;
    UsageHistoryReport report(core::Date now) const;

    // The oldest retained timestamp, set after every batch once anything was accepted.
    std::optional<core::Date> horizon() const { return horizon_; }
    // The number of responses retained for the windows.
    std::size_t retainedCount() const { return recent_.size(); }

private:
    struct SessionAccumulator {
        std::string projectID;
        std::optional<std::string> projectPath;
        core::Date first = 0;
        core::Date last = 0;
        std::int64_t count = 0;
        TokenUsage usage;
    };
    struct ProjectAccumulator {
        std::optional<std::string> projectPath;
        std::unordered_set<std::string> sessionIDs;
        core::Date first = 0;
        core::Date last = 0;
        std::int64_t count = 0;
        TokenUsage usage;
    };
    struct ModelAccumulator {
        std::int64_t count = 0;
        TokenUsage usage;
    };
    // A retained response. Texts are indices into `names_`; `noName` marks an absent one. The
    // list is kept in timestamp order; `sequence` is the order of acceptance.
    static constexpr std::uint32_t noName = UINT32_MAX;
    struct RecentEntry {
        core::Date timestamp = 0;
        std::uint64_t sequence = 0;
        std::uint32_t projectID = noName;
        // The repository root of the working folder.
        std::uint32_t projectPath = noName;
        std::uint32_t model = noName;
        TokenUsage usage;
    };
    using RecentIterator = std::vector<RecentEntry>::const_iterator;

    bool acceptOne(const UsageEntry& entry);
    void mergePending();
    std::uint32_t intern(const std::string& text);
    std::pair<RecentIterator, RecentIterator> between(core::Date since, core::Date now) const;

    core::Seconds retention_;
    TokenUsage total_;
    std::int64_t responseCount_ = 0;
    std::optional<core::Date> latestActivity_;
    std::optional<std::string> latestModel_;
    std::optional<core::Date> horizon_;
    std::unordered_map<std::string, SessionAccumulator> sessions_;
    std::unordered_map<std::string, ProjectAccumulator> projects_;
    std::unordered_map<std::string, ModelAccumulator> models_;
    std::vector<RecentEntry> recent_;
    std::vector<RecentEntry> pending_;
    std::uint64_t nextSequence_ = 0;
    std::unordered_set<std::string> seenMessageIDs_;
    std::vector<std::string> names_;
    std::unordered_map<std::string, std::uint32_t> nameIndex_;
    std::uint32_t unknownModel_;
    ProjectRootResolver projectRoots_;
    std::shared_ptr<const Calendar> calendar_;
};

} // namespace meterly::history
