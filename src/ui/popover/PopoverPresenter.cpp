#include "ui/popover/PopoverPresenter.hpp"

#include "config/AppVersion.hpp"
#include "ui/tray/RingGauge.hpp"
#include "ui/widgets/Share.hpp"

#include <QUrl>
#include <cctype>
#include <cmath>

namespace meterly::ui {
namespace {

QString text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace

WindowRowContent PopoverPresenter::windowRow(const QString& title, const core::LimitWindow& window,
                                             const std::string& countdown,
                                             const std::string& resetClock, bool hasRunway,
                                             bool showsRunwayWarning) {
    const double remaining = clampedShare(1 - window.utilization);
    const bool exhausted = !window.isAllowed();
    WindowRowContent row;
    row.title = title;
    row.remaining = remaining;
    row.percentText = QStringLiteral("%1%").arg(roundedHalfAway(remaining * 100));
    row.tone = RingGauge::tone(remaining, exhausted);
    row.showsRunwayWarning = hasRunway && showsRunwayWarning;
    row.resetsIn = QStringLiteral("resets in ") + text(countdown);
    row.resetClock = text(resetClock);
    return row;
}

NoticeContent PopoverPresenter::waitingForData(std::optional<std::int64_t> pollFailure) {
    if (!pollFailure) {
        return {QStringLiteral("Waiting for data"),
                QStringLiteral("Limits appear after Claude Code makes its next request.")};
    }
    return {QStringLiteral("Proxy status unreadable"),
            QStringLiteral("The app can't read the proxy's status endpoint. Claude Code may be "
                           "unaffected — check Settings → Proxy.")};
}

std::optional<QString>
PopoverPresenter::modelLine(const std::optional<std::string>& latestModel,
                            const std::optional<std::string>& lastActiveText) {
    if (!latestModel) {
        return std::nullopt;
    }
    std::string_view name = *latestModel;
    if (name.starts_with("claude-")) {
        name.remove_prefix(7);
    }
    QString line = text(name);
    if (lastActiveText) {
        line += QStringLiteral(" · ") + text(*lastActiveText);
    }
    return line;
}

QString PopoverPresenter::versionFooter(const std::optional<std::string>& currentVersion) {
    return QStringLiteral("v") +
           text(currentVersion ? std::string_view(*currentVersion) : config::AppVersion::bundled);
}

QString PopoverPresenter::modelDisplayName(std::string_view model) {
    // A hyphen followed by six to eight digits, at the very end.
    std::size_t digits = 0;
    while (digits < model.size() && digits <= 8 &&
           std::isdigit(static_cast<unsigned char>(model[model.size() - 1 - digits])) != 0) {
        ++digits;
    }
    if (digits >= 6 && digits <= 8 && digits < model.size() &&
        model[model.size() - 1 - digits] == '-') {
        return text(model.substr(0, model.size() - 1 - digits));
    }
    return text(model);
}

HistoryContent PopoverPresenter::history(const history::UsageHistoryReport& report,
                                         const TokenText& compactTokens,
                                         const IsDirectory& isDirectory) {
    HistoryContent content;
    for (const auto& model : report.modelsThisWeek) {
        content.models.push_back(
            {modelDisplayName(model.model), text(compactTokens(model.usage.totalTokens()))});
    }
    const std::pair<const char*, const history::WindowUsage*> windows[] = {
        {"5 hours", &report.lastFiveHours},
        {"Today", &report.today},
        {"Week", &report.lastSevenDays},
    };
    for (const auto& [label, window] : windows) {
        content.windows.push_back(
            {QString::fromLatin1(label), text(compactTokens(window->usage.totalTokens()))});
    }
    for (const auto& project : report.topProjectsToday) {
        HistoryContent::Project line;
        line.displayName = text(project.displayName);
        if (project.projectPath && !project.projectPath->empty() &&
            isDirectory(*project.projectPath)) {
            line.revealablePath = text(*project.projectPath);
        }
        line.tokens = text(compactTokens(project.usage.totalTokens()));
        content.projects.push_back(std::move(line));
    }
    return content;
}

QString PopoverPresenter::downloadingText(double progress) {
    const double percent = std::isfinite(progress) ? std::trunc(progress * 100) : 0;
    return QStringLiteral("Downloading %1%").arg(static_cast<qint64>(percent));
}

bool PopoverPresenter::isWebURL(const QString& url) {
    const QString scheme = QUrl(url).scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

} // namespace meterly::ui
