#include "ui/charts/WindowFillChartPresenter.hpp"

#include <algorithm>

namespace meterly::ui {
namespace {

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

std::int64_t settledCount(const state::WindowFillSeries& series) {
    return std::count_if(series.windows.begin(), series.windows.end(),
                         [](const state::WindowFill& window) { return !window.isActive; });
}

bool isRelative(const state::WindowFillSeries& series) {
    return std::holds_alternative<state::WindowFillSeries::Relative>(series.basis);
}

QString percent(double share) {
    return text(state::TextFormatter::percentText(share));
}

QString windows(std::int64_t count) {
    return QStringLiteral("%1 window%2").arg(count).arg(count == 1 ? "" : "s");
}

} // namespace

QString WindowFillChartPresenter::headline(const state::WindowFillSeries& series) {
    const auto average = series.settledAverageFraction();
    const auto settled = settledCount(series);
    if (!average || settled < 1) {
        return QStringLiteral("window in progress");
    }
    if (isRelative(series)) {
        return windows(settled) + QStringLiteral(" closed");
    }
    return QStringLiteral("avg ") +
           (series.settledAverageIsFloor() ? QStringLiteral("≥") : QString()) + percent(*average) +
           QStringLiteral(" used");
}

std::optional<QString> WindowFillChartPresenter::note(const state::WindowFillSeries& series) {
    if (isRelative(series)) {
        return QStringLiteral("heights are relative — no cap reading yet");
    }
    const auto barely = series.barelyUsedCount();
    if (barely < 1) {
        return std::nullopt;
    }
    return windows(barely) + QStringLiteral(" barely used — opened, then idle");
}

QString WindowFillChartPresenter::tooltip(const state::WindowFill& window, bool relative,
                                          const TokenText& compactTokens,
                                          const state::TextFormatter& formatter) {
    QString tip = text(formatter.clock(window.start, state::ClockPattern::hourMinute24)) +
                  QStringLiteral(" — ") + text(compactTokens(window.tokens));
    if (relative) {
        tip += QStringLiteral(" tokens");
    } else {
        tip += QStringLiteral(" tokens, ") + (window.isClamped ? QStringLiteral("≥") : QString()) +
               percent(window.fraction) + QStringLiteral(" of the window");
    }
    if (window.isActive) {
        tip += QStringLiteral(" (still open)");
    }
    return tip;
}

WindowFillChartContent WindowFillChartPresenter::present(const state::WindowFillSeries& series,
                                                         const TokenText& compactTokens,
                                                         const state::TextFormatter& formatter) {
    WindowFillChartContent content;
    const bool relative = isRelative(series);
    for (const auto& window : series.windows) {
        content.bars.push_back({window.fraction, window.isActive,
                                tooltip(window, relative, compactTokens, formatter)});
    }
    const auto average = series.settledAverageFraction();
    if (average && settledCount(series) >= 2) {
        content.averageLine = *average;
    }
    if (!series.windows.empty()) {
        content.axisStart =
            text(formatter.clock(series.windows.front().start, state::ClockPattern::hourMinute24));
        content.axisEnd = series.windows.back().isActive
                              ? QStringLiteral("now")
                              : text(formatter.clock(series.windows.back().start,
                                                     state::ClockPattern::hourMinute24));
    }
    content.headline = headline(series);
    content.headlineIsSecondary = relative;
    content.note = note(series);
    return content;
}

} // namespace meterly::ui
