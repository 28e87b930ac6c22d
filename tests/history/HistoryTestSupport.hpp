#pragma once

#include "history/Calendar.hpp"
#include "history/UsageEntry.hpp"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace meterly::history::testing {

// Sets TZ for the life of the object and puts the previous value back afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            previous_ = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (previous_) {
            ::setenv("TZ", previous_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> previous_;
};

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
