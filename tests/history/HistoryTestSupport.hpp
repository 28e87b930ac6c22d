#pragma once

#include "history/Calendar.hpp"
#include "history/UsageEntry.hpp"
#include "support/ScopedTimeZone.hpp"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace meterly::history::testing {

using meterly::testing::ScopedTimeZone;

// A calendar at a fixed offset from UTC, whatever the process's time zone.
class FixedOffsetCalendar final : public Calendar {
public:
    explicit FixedOffsetCalendar(core::Seconds offset = 0) : offset_(offset) {}
    std::optional<core::Date> startOfHour(core::Date date) const override {
        return std::floor((date + offset_) / 3600) * 3600 - offset_;
    }
    std::optional<core::Date> startOfDay(core::Date date) const override {
        return std::floor((date + offset_) / 86400) * 86400 - offset_;
    }

private:
    core::Seconds offset_;
};

// An assistant response of one input token by default.
inline UsageEntry makeEntry(std::string messageID, core::Date timestamp,
                            std::int64_t inputTokens = 1) {
    UsageEntry entry;
    entry.timestamp = timestamp;
    entry.sessionID = "session";
    entry.projectID = "project";
    entry.messageID = std::move(messageID);
    entry.model = "model";
    entry.usage = TokenUsage{inputTokens, 0, 0, 0};
    return entry;
}

} // namespace meterly::history::testing
