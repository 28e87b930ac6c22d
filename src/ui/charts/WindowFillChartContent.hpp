#pragma once

#include <QString>
#include <optional>
#include <vector>

namespace meterly::ui {

// What the window-fill chart draws, already worked out: one bar per recent five-hour window,
// oldest first, and the texts around the plot.
struct WindowFillChartContent {
    struct Bar {
        // Height as a share of the plot, 0...1.
        double fraction = 0;
        // The window still running: drawn lighter.
        bool isActive = false;
        QString tooltip;
        bool operator==(const Bar&) const = default;
    };
    std::vector<Bar> bars;
    // The settled windows' average fill, drawn as a line when present.
    std::optional<double> averageLine;
    QString axisStart;
    QString axisEnd;
    QString headline;
    // The headline in the secondary ink (heights only relative to each other).
    bool headlineIsSecondary = false;
    std::optional<QString> note;

    bool operator==(const WindowFillChartContent&) const = default;
};

} // namespace meterly::ui
