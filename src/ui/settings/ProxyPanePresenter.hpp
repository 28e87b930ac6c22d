#pragma once

#include "core/Time.hpp"
#include "history/UsageHistoryReport.hpp"
#include "state/ProxyDiagnostics.hpp"
#include "state/SetupModel.hpp"
#include "state/TextFormatter.hpp"
#include "ui/theme/ColourRole.hpp"

#include <optional>
#include <string>
#include <vector>

namespace meterly::ui {

// What the proxy pane shows: the setup flow or the restart note, the verdict with its dot, the
// requests chart, the details and the buttons, and the disconnect control.
struct ProxyPaneContent {
    struct Row {
        enum class Kind { fact, spacer, path };
        Kind kind = Kind::fact;
        std::string label;
        std::string value;
        // Path rows: "Copied" while this path was copied last, else "Copy".
        std::string copyTitle;
        bool operator==(const Row&) const = default;
    };
    struct Button {
        std::string title;
        bool enabled = true;
        bool shown = true;
        bool operator==(const Button&) const = default;
    };

    bool showsSetupFlow = false;
    bool showsDividerAfterFlow = false;
    bool showsRestartNote = false;
    // Before the first read: a spinner instead of the diagnostics.
    bool showsSpinner = false;
    bool showsDiagnostics = false;
    bool verdictIsWorking = false;
    ColourRole dotColour = ColourRole::orange; // green while working
    std::string verdict;
    bool showsChart = false;
    std::vector<Row> rows;
    Button recheck;
    Button restart;
    Button repair;
    Button copy;
    bool showsDisconnect = false;

    bool operator==(const ProxyPaneContent&) const = default;
};

class ProxyPanePresenter {
public:
    ProxyPanePresenter() = delete;

    struct Input {
        state::SetupModel::State setup;
        bool needsSessionRestart = false;
        std::optional<state::ProxyDiagnostics> diagnostics;
        bool refreshing = false;
        bool restarting = false;
        bool repairing = false;
        // The diagnostics summary was copied, and the path copied last (see CopiedMarks).
        bool copied = false;
        std::optional<std::string> copiedPath;
        // The history report's hourly buckets; none without a report.
        std::optional<std::vector<history::RequestBucket>> requestsByHour;
        core::Date now = 0;
    };

    static ProxyPaneContent present(const Input& input, const state::TextFormatter& texts);

    // "none since the proxy started", or the time in full units against `now`.
    static std::string lastTrafficText(std::optional<core::Date> lastTraffic, core::Date now,
                                       const state::TextFormatter& texts);
    // The port to repair for, when the pane offers "Repair".
    static std::optional<std::uint16_t> repairPort(const state::ProxyDiagnostics& diagnostics);
};

} // namespace meterly::ui
