#include "ui/popover/PopoverModelPresenter.hpp"

#include "ui/charts/WindowFillChartPresenter.hpp"
#include "ui/popover/PopoverPresenter.hpp"

namespace meterly::ui {
namespace {

QString text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace

LiveStatusContent PopoverModelPresenter::liveStatus(state::LiveStatus status) {
    LiveStatusContent content;
    content.label = text(state::label(status));
    content.detail = text(state::detail(status));
    switch (status) {
    case state::LiveStatus::live:
        content.dot = LiveStatusContent::Dot::green;
        break;
    case state::LiveStatus::quiet:
        content.dot = LiveStatusContent::Dot::secondary;
        break;
    case state::LiveStatus::silent:
        content.dot = LiveStatusContent::Dot::orange;
        break;
    }
    return content;
}

LimitsContent PopoverModelPresenter::limits(const state::UsageViewModel& model,
                                            const state::SetupModel::State& setup) {
    using Kind = state::SetupModel::State::Kind;
    LimitsContent content;
    if (setup.kind == Kind::conflict || setup.kind == Kind::failed ||
        setup.kind == Kind::notConfigured) {
        content.form = LimitsContent::Form::notConnected;
        return content;
    }
    const auto& snapshot = model.snapshot();
    if (!snapshot) {
        content.form = LimitsContent::Form::waiting;
        content.waiting = PopoverPresenter::waitingForData(model.pollFailure());
        return content;
    }
    content.form = LimitsContent::Form::windows;
    if (snapshot->fiveHour) {
        content.windows.push_back(PopoverPresenter::windowRow(
            QStringLiteral("5 hours"), *snapshot->fiveHour,
            model.countdownText(*snapshot->fiveHour), model.resetClockText(*snapshot->fiveHour),
            model.fiveHourRunway().has_value(), model.showsFiveHourRunwayWarning()));
    }
    if (snapshot->sevenDay) {
        content.windows.push_back(PopoverPresenter::windowRow(
            QStringLiteral("Week"), *snapshot->sevenDay, model.countdownText(*snapshot->sevenDay),
            model.resetClockText(*snapshot->sevenDay), model.sevenDayRunway().has_value(),
            model.showsSevenDayRunwayWarning()));
    }
    return content;
}

PopoverContent PopoverModelPresenter::present(const state::UsageViewModel& model,
                                              const state::SetupModel::State& setup,
                                              std::optional<UpdateBannerContent> banner,
                                              const std::optional<std::string>& currentVersion,
                                              std::optional<HistoryContent> history) {
    PopoverContent content;
    content.header.status = liveStatus(state::liveStatus(model));
    const auto& report = model.history();
    content.header.modelLine = PopoverPresenter::modelLine(
        report ? report->latestModel : std::nullopt, model.lastActiveText());
    content.banner = std::move(banner);
    content.limits = limits(model, setup);
    if (auto gate = model.sessionGate()) {
        content.sessionGate = PopoverPresenter::sessionGate(*gate, model.now(), model.texts());
    }
    if (auto series = model.windowFill(); series && series->windows.size() >= 2) {
        content.windowFill = WindowFillChartPresenter::present(
            *series, &state::UsageViewModel::compactTokens, model.texts());
    }
    if (report) {
        content.history = std::move(history);
    }
    content.versionFooter = PopoverPresenter::versionFooter(currentVersion);
    return content;
}

} // namespace meterly::ui
