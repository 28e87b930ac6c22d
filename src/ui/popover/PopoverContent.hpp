#pragma once

#include "ui/charts/WindowFillChartContent.hpp"
#include "ui/tray/RingGauge.hpp"

#include <QString>
#include <optional>
#include <vector>

namespace meterly::ui {

// Everything the popover shows, worked out from the models by the presenters. The popover's
// widgets are created once and follow these values; equal content changes nothing on screen.

// The header's status word, its dot and its tool tip.
struct LiveStatusContent {
    enum class Dot { green, secondary, orange };
    QString label;
    Dot dot = Dot::secondary;
    QString detail;
    bool operator==(const LiveStatusContent&) const = default;
};

struct HeaderContent {
    LiveStatusContent status;
    // The latest model and how long ago it was active; none hides the line.
    std::optional<QString> modelLine;
    bool operator==(const HeaderContent&) const = default;
};

// One usage-limit window.
struct WindowRowContent {
    QString title;
    // The remaining share, 0...1, for the dot bar.
    double remaining = 0;
    // "57%".
    QString percentText;
    RingGauge::Tone tone = RingGauge::Tone::green;
    // The runway warning with its hide button.
    bool showsRunwayWarning = false;
    // "resets in 1:02:03" or "resets in resetting…".
    QString resetsIn;
    // "4:05 PM" or "Tue 4:05 PM".
    QString resetClock;
    bool operator==(const WindowRowContent&) const = default;
};

// A notice with a title and a wrapping text (waiting for data, status unreadable).
struct NoticeContent {
    QString title;
    QString text;
    bool operator==(const NoticeContent&) const = default;
};

// The limits section: the not-connected notice, a waiting notice, or the window rows.
struct LimitsContent {
    enum class Form { notConnected, waiting, windows };
    Form form = Form::waiting;
    NoticeContent waiting;
    // At most two: "5 hours", then "Week".
    std::vector<WindowRowContent> windows;
    bool operator==(const LimitsContent&) const = default;
};

// Today's five-hour windows.
struct SessionGateContent {
    struct Slot {
        enum class Kind { active, available, spent, outOfReach };
        Kind kind = Kind::available;
        // For the active slot: the remaining share that fills the block.
        double remaining = 0;
        bool operator==(const Slot&) const = default;
    };
    QString countText;
    QString caption;
    std::vector<Slot> sessionSlots;
    bool operator==(const SessionGateContent&) const = default;
};

struct HistoryContent {
    struct Line {
        QString label;
        QString tokens;
        bool operator==(const Line&) const = default;
    };
    struct Project {
        QString displayName;
        // The project's folder when it exists, so that a click can reveal it.
        std::optional<QString> revealablePath;
        QString tokens;
        bool operator==(const Project&) const = default;
    };
    // "Models this week"; empty hides the block and its divider.
    std::vector<Line> models;
    // "Tokens used": 5 hours, Today, Week.
    std::vector<Line> windows;
    // "Top projects today"; empty hides the block and the divider before it.
    std::vector<Project> projects;
    bool operator==(const HistoryContent&) const = default;
};

// The offer of a newer version and the stage of its download and installation.
struct UpdateBannerContent {
    enum class Stage { idle, downloading, installing, restarting, failed };
    QString title;
    // The release notes, verbatim; none when absent or empty.
    std::optional<QString> notes;
    bool hasNotesURL = false;
    Stage stage = Stage::idle;
    // While downloading: 0...1 and "Downloading <n>%".
    double progress = 0;
    QString progressText;
    // "Installing…" or "Restarting…".
    QString busyText;
    // The failure's message, verbatim.
    QString failure;
    bool operator==(const UpdateBannerContent&) const = default;
};

struct PopoverContent {
    HeaderContent header;
    std::optional<UpdateBannerContent> banner;
    LimitsContent limits;
    std::optional<SessionGateContent> sessionGate;
    // Shown only with two windows or more.
    std::optional<WindowFillChartContent> windowFill;
    std::optional<HistoryContent> history;
    // "v1.0.7".
    QString versionFooter;
    bool operator==(const PopoverContent&) const = default;
};

} // namespace meterly::ui
