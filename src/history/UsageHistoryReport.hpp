#pragma once

#include "core/Time.hpp"
#include "history/TokenUsage.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace meterly::history {

// One clock hour of responses in the user's calendar.
struct RequestBucket {
    // The first instant of the clock hour.
    core::Date start = 0;
    std::int64_t responseCount = 0;
    // Sum of the responses' total tokens.
    std::int64_t totalTokens = 0;

    core::Date id() const { return start; }
    friend bool operator==(const RequestBucket&, const RequestBucket&) = default;
};

// One row of a project ranking over a time window.
struct ProjectSpend {
    // The project folder of the first response counted for the row.
    std::string projectID;
    // The repository root of the first response counted for the row; none when it had no
    // working folder.
    std::optional<std::string> projectPath;
    // The short label that tells the row apart from the others of its ranking.
    std::string displayName;
    TokenUsage usage;

    const std::string& id() const { return projectPath ? *projectPath : projectID; }
    friend bool operator==(const ProjectSpend&, const ProjectSpend&) = default;
};

// One session over every response ingested.
struct SessionUsage {
    std::string sessionID;
    // The project folder of the session's first response.
    std::string projectID;
    // The first working folder seen among the session's responses, as written.
    std::optional<std::string> projectPath;
    core::Date firstActivity = 0;
    core::Date lastActivity = 0;
    std::int64_t responseCount = 0;
    TokenUsage usage;

    const std::string& id() const { return sessionID; }
    friend bool operator==(const SessionUsage&, const SessionUsage&) = default;
};

// One project folder over every response ingested.
struct ProjectUsage {
    std::string projectID;
    // The first working folder seen among the project's responses, as written.
    std::optional<std::string> projectPath;
    std::int64_t sessionCount = 0;
    core::Date firstActivity = 0;
    core::Date lastActivity = 0;
    std::int64_t responseCount = 0;
    TokenUsage usage;

    const std::string& id() const { return projectID; }
    // The last component of the working folder; the project folder's name without one.
    std::string displayName() const;
    friend bool operator==(const ProjectUsage&, const ProjectUsage&) = default;
};

// One model; "unknown" collects the responses that named none.
struct ModelUsage {
    std::string model;
    std::int64_t responseCount = 0;
    TokenUsage usage;

    const std::string& id() const { return model; }
    friend bool operator==(const ModelUsage&, const ModelUsage&) = default;
};

// The use within one time window, both ends included.
struct WindowUsage {
    core::Seconds duration = 0;
    core::Date since = 0;
    core::Date until = 0;
    std::int64_t responseCount = 0;
    TokenUsage usage;
    // The window reaches back before the oldest retained response.
    bool isTruncated = false;

    friend bool operator==(const WindowUsage&, const WindowUsage&) = default;
};

// Everything the history hands out, made for one moment.
struct UsageHistoryReport {
    core::Date generatedAt = 0;
    // The last 24 clock hours, oldest first, ending with the current hour.
    std::vector<RequestBucket> requestsByHour;
    TokenUsage total;
    std::int64_t responseCount = 0;
    // Latest activity first.
    std::vector<SessionUsage> sessions;
    // Most tokens first.
    std::vector<ProjectUsage> projects;
    // Most tokens first.
    std::vector<ModelUsage> models;
    WindowUsage lastFiveHours;
    WindowUsage today;
    WindowUsage lastSevenDays;
    std::optional<core::Date> latestActivity;
    std::optional<std::string> latestModel;
    // At most three rows.
    std::vector<ProjectSpend> topProjectsToday;
    std::vector<ModelUsage> modelsThisWeek;

    bool isEmpty() const { return responseCount == 0; }
    friend bool operator==(const UsageHistoryReport&, const UsageHistoryReport&) = default;
};

} // namespace meterly::history
