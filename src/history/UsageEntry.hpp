#pragma once

#include "core/Time.hpp"
#include "history/TokenUsage.hpp"

#include <optional>
#include <string>

namespace meterly::history {

// One assistant response as read from one transcript line.
struct UsageEntry {
    // When the response was written (the line's timestamp).
    core::Date timestamp = 0;
    // The Claude Code session the line names; never empty.
    std::string sessionID;
    // Name of the project folder below the projects root that holds the transcript file.
    std::string projectID;
    // The working directory the line names, exactly as written; none when the line has none.
    std::optional<std::string> projectPath;
    // Identifier of the assistant message; never empty.
    std::string messageID;
    // Identifier of the API request, as written.
    std::optional<std::string> requestID;
    // Model name as written; never "<synthetic>".
    std::optional<std::string> model;
    // The line's side-chain flag; false when the line does not carry it.
    bool isSidechain = false;
    TokenUsage usage;

    friend bool operator==(const UsageEntry&, const UsageEntry&) = default;
};

} // namespace meterly::history
