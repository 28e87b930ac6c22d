#pragma once

#include "ui/popover/PopoverContent.hpp"

namespace meterly::ui::samples {

// A popover as a user sees it mid-afternoon: live, both windows, today's windows, the fill chart
// and the history.
inline PopoverContent busyAfternoon() {
    PopoverContent content;
    content.header.status = {"live", LiveStatusContent::Dot::green,
                             "Claude Code traffic is reaching the proxy right now."};
    content.header.modelLine = "opus-4-1-20250805 · 2 min";
    content.limits.form = LimitsContent::Form::windows;
    content.limits.windows = {
        {"5 hours", 0.57, "57%", RingGauge::Tone::green, false, "resets in 2:41:09", "5:30 PM"},
        {"Week", 0.31, "31%", RingGauge::Tone::orange, true, "resets in 2d 4h", "Tue 9:00 AM"},
    };
    content.sessionGate = SessionGateContent{"2/4",
                                             "next window not before 5:30 PM",
                                             {{SessionGateContent::Slot::Kind::spent, 0},
                                              {SessionGateContent::Slot::Kind::active, 0.57},
                                              {SessionGateContent::Slot::Kind::available, 0},
                                              {SessionGateContent::Slot::Kind::outOfReach, 0}}};
    WindowFillChartContent chart;
    chart.bars = {{0.82, false, "02:00 — 41K tokens, 82% of the window"},
                  {0.15, false, "07:00 — 7K tokens, 15% of the window"},
                  {0.64, false, "08:00 — 32K tokens, 64% of the window"},
                  {0.43, true, "12:30 — 21K tokens, 43% of the window (still open)"}};
    chart.averageLine = 0.54;
    chart.axisStart = "02:00";
    chart.axisEnd = "now";
    chart.headline = "avg 54% used";
    chart.note = "1 window barely used — opened, then idle";
    content.windowFill = chart;
    HistoryContent history;
    history.models = {{"claude-opus-4-1", "1.3M"}, {"claude-sonnet-4", "412K"}};
    history.windows = {{"5 hours", "214K"}, {"Today", "388K"}, {"Week", "1.7M"}};
    history.projects = {{"meterly", std::nullopt, "201K"},
                        {"R&D <notes>", std::nullopt, "96K"},
                        {"website", std::nullopt, "12K"}};
    content.history = history;
    content.versionFooter = "v1.0.7";
    return content;
}

inline UpdateBannerContent updateOffer() {
    UpdateBannerContent banner;
    banner.title = "Version 1.1.0 is available";
    banner.notes = "Faster history scans, a clearer week row, and fixes for the tray on "
                   "panels that restart.";
    banner.hasNotesURL = true;
    banner.busyText = "Installing…";
    return banner;
}

} // namespace meterly::ui::samples
