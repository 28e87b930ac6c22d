#pragma once

#include "state/TextFormatter.hpp"
#include "state/WindowFill.hpp"
#include "ui/charts/WindowFillChartContent.hpp"

#include <cstdint>
#include <functional>
#include <string>

namespace meterly::ui {

// The window-fill chart's bars and texts from a series of recent five-hour windows.
class WindowFillChartPresenter {
public:
    WindowFillChartPresenter() = delete;

    using TokenText = std::function<std::string(std::int64_t)>;

    static WindowFillChartContent present(const state::WindowFillSeries& series,
                                          const TokenText& compactTokens,
                                          const state::TextFormatter& formatter);

    // "window in progress", "<n> window(s) closed" or "avg [≥]<p>% used".
    static QString headline(const state::WindowFillSeries& series);
    static std::optional<QString> note(const state::WindowFillSeries& series);
    static QString tooltip(const state::WindowFill& window, bool relative,
                           const TokenText& compactTokens, const state::TextFormatter& formatter);
};

} // namespace meterly::ui
