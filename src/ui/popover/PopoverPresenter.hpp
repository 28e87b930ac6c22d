#pragma once

#include "core/LimitWindow.hpp"
#include "history/UsageHistoryReport.hpp"
#include "state/SessionGate.hpp"
#include "state/TextFormatter.hpp"
#include "ui/popover/PopoverContent.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::ui {

// Plain functions from the models' values to what the popover shows. They hold every rule of
// the popover's texts, visibility and colours, so that the widgets only display.
class PopoverPresenter {
public:
    PopoverPresenter() = delete;

    using TokenText = std::function<std::string(std::int64_t)>;
    using IsDirectory = std::function<bool(const std::string& path)>;

    // One limit window's row. `countdown` and `resetClock` are the view model's texts for it;
    // the warning shows when a runway forecast exists and its switch is on.
    static WindowRowContent windowRow(const QString& title, const core::LimitWindow& window,
                                      const std::string& countdown, const std::string& resetClock,
                                      bool hasRunway, bool showsRunwayWarning);

    // The notice while no reading has arrived: waiting, or (after failed polls, whatever their
    // count) the status endpoint unreadable.
    static NoticeContent waitingForData(std::optional<std::int64_t> pollFailure);

    // The header's model line: the latest model without a leading "claude-", then " · " and how
    // long ago it was active when known.
    static std::optional<QString> modelLine(const std::optional<std::string>& latestModel,
                                            const std::optional<std::string>& lastActiveText);

    // "v" and the running version, else the version compiled in.
    static QString versionFooter(const std::optional<std::string>& currentVersion);

    // A model's name without a trailing date ("-" and six to eight digits at the very end).
    static QString modelDisplayName(std::string_view model);

    // The history section of a report. `isDirectory` decides which project folders can be
    // revealed.
    static HistoryContent history(const history::UsageHistoryReport& report,
                                  const TokenText& compactTokens, const IsDirectory& isDirectory);

    // Today's windows: "<available>/<capacity>" (the running window counts as available), the
    // slots, and when the next window can start. Times read "h:mm a" on the day of `now`, else
    // "EEE h:mm a".
    static SessionGateContent sessionGate(const state::SessionGate& gate, core::Date now,
                                          const state::TextFormatter& formatter);

    // A date as the rows show it: the time alone on the day of `now`, else with the weekday.
    static std::string dayClock(core::Date date, core::Date now,
                                const state::TextFormatter& formatter);

    // "Downloading <n>%", n the progress in whole percent cut toward zero.
    static QString downloadingText(double progress);

    // Whether a link may be opened in the browser: http and https only, in any letter case.
    static bool isWebURL(const QString& url);
};

} // namespace meterly::ui
