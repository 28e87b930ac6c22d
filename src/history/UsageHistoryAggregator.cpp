#include "history/UsageHistoryAggregator.hpp"

#include "history/ProjectLabels.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace meterly::history {

namespace {

constexpr core::Seconds fiveHours = 18000;
constexpr core::Seconds sevenDays = 604800;
constexpr int hoursPerReport = 24;
constexpr std::size_t topProjectsPerReport = 3;

// Retention that cannot be counted back (negative or not a number) keeps the newest instant
// only; an infinite one keeps everything.
core::Seconds clampedRetention(core::Seconds retention) {
    if (std::isnan(retention) || retention < 0) {
        return 0;
    }
    return retention;
}

template <typename Accumulator>
void addTo(Accumulator& accumulator, const UsageEntry& entry,
           const std::optional<std::string>& projectPath) {
    accumulator.first = std::min(accumulator.first, entry.timestamp);
    accumulator.last = std::max(accumulator.last, entry.timestamp);
    accumulator.count += 1;
    accumulator.usage += entry.usage;
    if (!accumulator.projectPath) {
        accumulator.projectPath = projectPath;
    }
}

} // namespace

UsageHistoryAggregator::UsageHistoryAggregator(core::Seconds retention,
                                               ProjectRootResolver projectRoots,
                                               std::shared_ptr<const Calendar> calendar)
    : retention_(clampedRetention(retention)), unknownModel_(intern("unknown")),
      projectRoots_(std::move(projectRoots)),
      calendar_(calendar ? std::move(calendar) : localCalendar()) {}

std::uint32_t UsageHistoryAggregator::intern(const std::string& text) {
    auto [found, added] = nameIndex_.try_emplace(text, static_cast<std::uint32_t>(names_.size()));
    if (added) {
        names_.push_back(text);
    }
    return found->second;
}

std::int64_t UsageHistoryAggregator::ingest(const std::vector<UsageEntry>& entries,
                                            core::Date now) {
    const std::int64_t accepted = accept(entries);
    std::optional<core::Date> anchor = latestActivity_;
    if (anchor && now < *anchor) {
        anchor = now;
    }
    endBatch(anchor);
    return accepted;
}

bool UsageHistoryAggregator::ingest(const UsageEntry& entry) {
    bool accepted = acceptOne(entry);
    mergePending();
    return accepted;
}

std::int64_t UsageHistoryAggregator::accept(const std::vector<UsageEntry>& entries) {
    std::int64_t accepted = 0;
    for (const auto& entry : entries) {
        if (acceptOne(entry)) {
            ++accepted;
        }
    }
    return accepted;
}

bool UsageHistoryAggregator::acceptOne(const UsageEntry& entry) {
    // A time that is not finite belongs to no window and no calendar.
    if (!std::isfinite(entry.timestamp)) {
        return false;
    }
    if (!seenMessageIDs_.insert(entry.messageID).second) {
        return false;
    }
    // An empty working folder names no folder: such entries go by their project folder.
    static const std::optional<std::string> none;
    const auto& projectPath =
        entry.projectPath && !entry.projectPath->empty() ? entry.projectPath : none;

    total_ += entry.usage;
    responseCount_ += 1;
    if (!latestActivity_ || entry.timestamp >= *latestActivity_) {
        latestModel_ = entry.model;
        latestActivity_ = entry.timestamp;
    }

    auto [session, newSession] = sessions_.try_emplace(entry.sessionID);
    if (newSession) {
        session->second.projectID = entry.projectID;
        session->second.first = session->second.last = entry.timestamp;
    }
    addTo(session->second, entry, projectPath);

    auto [project, newProject] = projects_.try_emplace(entry.projectID);
    if (newProject) {
        project->second.first = project->second.last = entry.timestamp;
    }
    addTo(project->second, entry, projectPath);
    project->second.sessionIDs.insert(entry.sessionID);

    auto& model = models_[entry.model ? *entry.model : names_[unknownModel_]];
    model.count += 1;
    model.usage += entry.usage;

    RecentEntry recent;
    recent.timestamp = entry.timestamp;
    recent.sequence = nextSequence_++;
    recent.projectID = intern(entry.projectID);
    recent.projectPath = projectPath ? intern(projectRoots_.root(*projectPath)) : noName;
    recent.model = entry.model ? intern(*entry.model) : noName;
    recent.usage = entry.usage;
    pending_.push_back(recent);
    return true;
}

void UsageHistoryAggregator::mergePending() {
    if (pending_.empty()) {
        return;
    }
    auto earlier = [](const RecentEntry& a, const RecentEntry& b) {
        return a.timestamp < b.timestamp || (a.timestamp == b.timestamp && a.sequence < b.sequence);
    };
    std::sort(pending_.begin(), pending_.end(), earlier);
    auto middle = static_cast<std::ptrdiff_t>(recent_.size());
    recent_.insert(recent_.end(), pending_.begin(), pending_.end());
    std::inplace_merge(recent_.begin(), recent_.begin() + middle, recent_.end(), earlier);
    pending_.clear();
    pending_.shrink_to_fit();
}

void UsageHistoryAggregator::endBatch(std::optional<core::Date> anchor) {
    mergePending();
    if (anchor && !std::isnan(*anchor)) {
        const core::Date cutoff = *anchor - retention_;
        auto keep = std::lower_bound(
            recent_.begin(), recent_.end(), cutoff,
            [](const RecentEntry& entry, core::Date value) { return entry.timestamp < value; });
        recent_.erase(recent_.begin(), keep);
    }
    if (!recent_.empty()) {
        horizon_ = recent_.front().timestamp;
    } else if (anchor) {
        horizon_ = anchor;
    } else if (latestActivity_) {
        horizon_ = latestActivity_;
    }
}

std::pair<UsageHistoryAggregator::RecentIterator, UsageHistoryAggregator::RecentIterator>
UsageHistoryAggregator::between(core::Date since, core::Date now) const {
    if (std::isnan(since) || std::isnan(now) || since > now) {
        return {recent_.end(), recent_.end()};
    }
    auto from = std::lower_bound(
        recent_.begin(), recent_.end(), since,
        [](const RecentEntry& entry, core::Date value) { return entry.timestamp < value; });
    auto to =
        std::upper_bound(from, recent_.end(), now, [](core::Date value, const RecentEntry& entry) {
            return value < entry.timestamp;
        });
    return {from, to};
}

WindowUsage UsageHistoryAggregator::windowUsage(core::Date since, core::Date now) const {
    WindowUsage window;
    window.duration = now - since;
    window.since = since;
    window.until = now;
    auto [from, to] = between(since, now);
    for (auto it = from; it != to; ++it) {
        window.responseCount += 1;
        window.usage += it->usage;
    }
    window.isTruncated = horizon_ && since < *horizon_;
    return window;
}

std::vector<RequestBucket> UsageHistoryAggregator::requestsByHour(core::Date now, int hours) const {
    std::vector<RequestBucket> buckets;
    if (hours <= 0) {
        return buckets;
    }
    auto current = calendar_->startOfHour(now);
    if (!current) {
        return buckets;
    }
    auto first = calendar_->addingHours(*current, -(static_cast<std::int64_t>(hours) - 1));
    if (!first) {
        return buckets;
    }
    for (int i = 0; i < hours; ++i) {
        if (auto start = calendar_->addingHours(*first, i)) {
            buckets.push_back(RequestBucket{*start, 0, 0});
        }
    }
    if (buckets.empty()) {
        return buckets;
    }

    // Entries come in time order, so the hour of one entry is usually the hour of the next: an
    // hour whose last whole second still starts at the same instant covers everything between.
    std::optional<core::Date> hourStart;
    core::Date hourKnownUntil = -std::numeric_limits<core::Date>::infinity();
    auto from = std::lower_bound(
        recent_.begin(), recent_.end(), *first,
        [](const RecentEntry& entry, core::Date value) { return entry.timestamp < value; });
    for (auto it = from; it != recent_.end(); ++it) {
        if (!hourStart || it->timestamp < *hourStart || it->timestamp > hourKnownUntil) {
            hourStart = calendar_->startOfHour(it->timestamp);
            if (!hourStart) {
                continue;
            }
            auto last = calendar_->startOfHour(*hourStart + 3599);
            hourKnownUntil = last && *last == *hourStart ? *hourStart + 3599 : it->timestamp;
        }
        if (*hourStart > buckets.back().start) {
            break;
        }
        auto bucket = std::lower_bound(
            buckets.begin(), buckets.end(), *hourStart,
            [](const RequestBucket& b, core::Date value) { return b.start < value; });
        if (bucket != buckets.end() && bucket->start == *hourStart) {
            bucket->responseCount += 1;
            bucket->totalTokens = saturatingAdd(bucket->totalTokens, it->usage.totalTokens());
        }
    }
    return buckets;
}

std::vector<ProjectSpend> UsageHistoryAggregator::topProjects(core::Date since,
                                                              core::Date now) const {
    struct Group {
        std::uint32_t key;
        std::uint64_t firstSequence;
        std::uint32_t projectID;
        std::uint32_t projectPath;
        TokenUsage usage;
    };
    std::vector<Group> groups;
    std::vector<std::int32_t> groupOf(names_.size(), -1);
    auto [from, to] = between(since, now);
    for (auto it = from; it != to; ++it) {
        std::uint32_t key = it->projectPath != noName ? it->projectPath : it->projectID;
        if (groupOf[key] < 0) {
            groupOf[key] = static_cast<std::int32_t>(groups.size());
            groups.push_back(Group{key, it->sequence, it->projectID, it->projectPath, it->usage});
            continue;
        }
        Group& group = groups[static_cast<std::size_t>(groupOf[key])];
        group.usage += it->usage;
        // The group is named after the first of its entries to be accepted.
        if (it->sequence < group.firstSequence) {
            group.firstSequence = it->sequence;
            group.projectID = it->projectID;
            group.projectPath = it->projectPath;
        }
    }
    std::sort(groups.begin(), groups.end(), [this](const Group& a, const Group& b) {
        auto ta = a.usage.totalTokens();
        auto tb = b.usage.totalTokens();
        if (ta != tb) {
            return ta > tb;
        }
        if (a.projectID != b.projectID) {
            return names_[a.projectID] < names_[b.projectID];
        }
        return names_[a.key] < names_[b.key];
    });

    std::vector<std::string> paths;
    paths.reserve(groups.size());
    for (const auto& group : groups) {
        paths.push_back(names_[group.projectPath != noName ? group.projectPath : group.projectID]);
    }
    auto labels = ProjectLabels::labels(paths);
    std::vector<ProjectSpend> rows;
    rows.reserve(groups.size());
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const Group& group = groups[i];
        rows.push_back(ProjectSpend{
            names_[group.projectID],
            group.projectPath != noName ? std::optional(names_[group.projectPath]) : std::nullopt,
            std::move(labels[i]), group.usage});
    }
    return rows;
}

std::vector<ModelUsage> UsageHistoryAggregator::topModels(core::Date since, core::Date now) const {
    std::vector<ModelUsage> rows;
    std::vector<std::int32_t> rowOf(names_.size(), -1);
    auto [from, to] = between(since, now);
    for (auto it = from; it != to; ++it) {
        std::uint32_t key = it->model != noName ? it->model : unknownModel_;
        if (rowOf[key] < 0) {
            rowOf[key] = static_cast<std::int32_t>(rows.size());
            rows.push_back(ModelUsage{names_[key], 0, TokenUsage::zero()});
        }
        ModelUsage& row = rows[static_cast<std::size_t>(rowOf[key])];
        row.responseCount += 1;
        row.usage += it->usage;
    }
    std::sort(rows.begin(), rows.end(), [](const ModelUsage& a, const ModelUsage& b) {
        auto ta = a.usage.totalTokens();
        auto tb = b.usage.totalTokens();
        return ta != tb ? ta > tb : a.model < b.model;
    });
    return rows;
}

UsageHistoryReport UsageHistoryAggregator::report(core::Date now) const {
    UsageHistoryReport report;
    report.generatedAt = now;
    report.requestsByHour = requestsByHour(now, hoursPerReport);
    report.total = total_;
    report.responseCount = responseCount_;

    report.sessions.reserve(sessions_.size());
    for (const auto& [id, session] : sessions_) {
        report.sessions.push_back(SessionUsage{id, session.projectID, session.projectPath,
                                               session.first, session.last, session.count,
                                               session.usage});
    }
    std::sort(report.sessions.begin(), report.sessions.end(),
              [](const SessionUsage& a, const SessionUsage& b) {
                  return a.lastActivity != b.lastActivity ? a.lastActivity > b.lastActivity
                                                          : a.sessionID < b.sessionID;
              });

    report.projects.reserve(projects_.size());
    for (const auto& [id, project] : projects_) {
        report.projects.push_back(ProjectUsage{
            id, project.projectPath, static_cast<std::int64_t>(project.sessionIDs.size()),
            project.first, project.last, project.count, project.usage});
    }
    std::sort(report.projects.begin(), report.projects.end(),
              [](const ProjectUsage& a, const ProjectUsage& b) {
                  auto ta = a.usage.totalTokens();
                  auto tb = b.usage.totalTokens();
                  return ta != tb ? ta > tb : a.projectID < b.projectID;
              });

    report.models.reserve(models_.size());
    for (const auto& [name, model] : models_) {
        report.models.push_back(ModelUsage{name, model.count, model.usage});
    }
    std::sort(report.models.begin(), report.models.end(),
              [](const ModelUsage& a, const ModelUsage& b) {
                  auto ta = a.usage.totalTokens();
                  auto tb = b.usage.totalTokens();
                  return ta != tb ? ta > tb : a.model < b.model;
              });

    const core::Date startOfToday = calendar_->startOfDay(now).value_or(now);
    report.lastFiveHours = windowUsage(now - fiveHours, now);
    report.today = windowUsage(startOfToday, now);
    report.lastSevenDays = windowUsage(now - sevenDays, now);
    report.latestActivity = latestActivity_;
    report.latestModel = latestModel_;
    report.topProjectsToday = topProjects(startOfToday, now);
    if (report.topProjectsToday.size() > topProjectsPerReport) {
        report.topProjectsToday.resize(topProjectsPerReport);
    }
    report.modelsThisWeek = topModels(now - sevenDays, now);
    return report;
}

} // namespace meterly::history
