// The values that the views derive from the usage view model, and its texts.
#include "state/UsageViewModel.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace meterly::state {

namespace {

constexpr core::Seconds idleAge = 600;
constexpr core::Seconds lastActiveMinimum = 60;

// Spans beyond this (some 285 million years) are shown as this, so that every conversion to an
// integer below stays defined whatever date the status document carried. 2^53 is exact in a
// double.
constexpr double longestSpan = 9007199254740992.0;

double clampedSpan(core::Seconds seconds) {
    if (std::isnan(seconds)) {
        return 0;
    }
    return std::fmax(-longestSpan, std::fmin(seconds, longestSpan));
}

template <typename... Args>
std::string format(const char* pattern, Args... args) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, args...);
    return buffer;
}

} // namespace

std::optional<core::LimitWindow> UsageViewModel::representative() const {
    if (!snapshot()) {
        return std::nullopt;
    }
    return snapshot()->representative();
}

std::optional<core::LimitWindow> UsageViewModel::menuBarWindow() const {
    if (!snapshot()) {
        return std::nullopt;
    }
    return snapshot()->fiveHour ? snapshot()->fiveHour : snapshot()->sevenDay;
}

std::optional<core::Seconds> UsageViewModel::snapshotAge() const {
    if (!snapshot() || !snapshotArrival_) {
        return std::nullopt;
    }
    return ageSince(*snapshotArrival_);
}

// Measured on the wall clock only up to the arrival: a time ahead of the clock (set back since)
// counts as 0, and from there it ages like any other.
UsageViewModel::Arrival UsageViewModel::arrival(std::optional<core::Date> stamp, core::Date now,
                                                core::Seconds uptime) {
    return Arrival{stamp ? std::max(0.0, now - *stamp) : 0.0, uptime};
}

core::Seconds UsageViewModel::ageSince(const Arrival& arrival) const {
    return arrival.age + std::max(0.0, uptime_ - arrival.uptime);
}

std::optional<core::Date> UsageViewModel::lastTrafficAt() const {
    if (lastRequestArrival_) {
        return now() - ageSince(*lastRequestArrival_);
    }
    if (auto age = snapshotAge()) {
        return now() - *age;
    }
    return std::nullopt;
}

bool UsageViewModel::isIdle() const {
    const auto age = snapshotAge();
    return age && *age >= idleAge;
}

std::optional<std::string> UsageViewModel::lastActiveText() const {
    const auto age = snapshotAge();
    if (!age || *age < lastActiveMinimum) {
        return std::nullopt;
    }
    return compactDuration(*age);
}

std::optional<RunwayForecast> UsageViewModel::runway(const std::optional<core::LimitWindow>& window,
                                                     const history::WindowUsage& usage) const {
    if (!window) {
        return std::nullopt;
    }
    return RunwayForecastEstimator::estimate(window->utilization, usage.usage.totalTokens(),
                                             usage.duration, window->remainingFraction(),
                                             window->timeRemaining(now()));
}

std::optional<RunwayForecast> UsageViewModel::fiveHourRunway() const {
    if (!history() || !snapshot()) {
        return std::nullopt;
    }
    return runway(snapshot()->fiveHour, history()->lastFiveHours);
}

std::optional<RunwayForecast> UsageViewModel::sevenDayRunway() const {
    if (!history() || !snapshot()) {
        return std::nullopt;
    }
    return runway(snapshot()->sevenDay, history()->lastSevenDays);
}

std::optional<SessionGate> UsageViewModel::sessionGate() const {
    if (!history()) {
        return std::nullopt;
    }
    std::optional<core::Date> resetAt;
    std::optional<double> remaining;
    if (snapshot() && snapshot()->fiveHour) {
        resetAt = snapshot()->fiveHour->resetAt;
        remaining = snapshot()->fiveHour->remainingFraction();
    }
    return SessionGateEstimator::estimate(resetAt, remaining, history()->requestsByHour, now(),
                                          *calendar_);
}

std::optional<WindowFillSeries> UsageViewModel::windowFill() const {
    if (!history()) {
        return std::nullopt;
    }
    std::optional<core::Date> resetAt;
    std::optional<double> utilization;
    if (snapshot() && snapshot()->fiveHour) {
        resetAt = snapshot()->fiveHour->resetAt;
        utilization = snapshot()->fiveHour->utilization;
    }
    return WindowFillEstimator::estimate(resetAt, utilization, history()->requestsByHour, now(),
                                         windowFillCap_, windowFillLimit);
}

std::string UsageViewModel::countdownText(const core::LimitWindow& window) const {
    const core::Seconds left = window.timeRemaining(now());
    if (left > 0) {
        return clockDuration(left);
    }
    return "resetting\u2026";
}

std::string UsageViewModel::resetClockText(const core::LimitWindow& window) const {
    // The formatter keeps far dates within the years it can show.
    const bool today = texts_->sameDay(window.resetAt, now());
    return texts_->clock(window.resetAt,
                         today ? ClockPattern::hourMinute : ClockPattern::weekdayHourMinute);
}

std::string UsageViewModel::compactDuration(core::Seconds seconds) {
    const auto whole = static_cast<std::int64_t>(std::trunc(clampedSpan(seconds)));
    const std::int64_t minutes = whole / 60;
    if (whole < 3600) {
        return std::to_string(minutes) + " min";
    }
    if (minutes < 1440) {
        return std::to_string(minutes / 60) + "h";
    }
    return std::to_string(minutes / 1440) + "d";
}

std::string UsageViewModel::clockDuration(core::Seconds seconds) {
    const std::int64_t whole = std::llround(clampedSpan(seconds));
    const std::int64_t hours = whole / 3600;
    const std::int64_t minutes = (whole % 3600) / 60;
    const std::int64_t rest = whole % 60;
    if (whole >= 86400) {
        return std::to_string(hours / 24) + "d " + std::to_string(hours % 24) + "h";
    }
    if (whole < 3600) {
        return format("%" PRId64 ":%02" PRId64, minutes, rest);
    }
    return format("%" PRId64 ":%02" PRId64 ":%02" PRId64, hours, minutes, rest);
}

std::string UsageViewModel::compactTokens(std::int64_t tokens) {
    if (tokens < 1000) {
        return std::to_string(tokens);
    }
    if (tokens < 1'000'000) {
        return format("%.0fK", static_cast<double>(tokens) / 1000.0);
    }
    return format("%.1fM", static_cast<double>(tokens) / 1'000'000.0);
}

} // namespace meterly::state
