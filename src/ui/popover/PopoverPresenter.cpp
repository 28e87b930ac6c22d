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

std::string PopoverPresenter::dayClock(core::Date date, core::Date now,
                                       const state::TextFormatter& formatter) {
    return formatter.clock(date, formatter.sameDay(date, now)
                                     ? state::ClockPattern::hourMinute
                                     : state::ClockPattern::weekdayHourMinute);
}

SessionGateContent PopoverPresenter::sessionGate(const state::SessionGate& gate, core::Date now,
                                                 const state::TextFormatter& formatter) {
    using Kind = SessionGateContent::Slot::Kind;
    SessionGateContent content;
    content.countText = QStringLiteral("%1/%2")
                            .arg(gate.availableCount() + (gate.isActive() ? 1 : 0))
                            .arg(gate.capacity);
    if (!gate.activeResetAt) {
        if (gate.availableCount() == 0) {
            content.caption = QStringLiteral("no room for another window today");
        } else {
            content.caption =
                QStringLiteral("start now → resets ") +
                text(dayClock(gate.nextEarliestStart + state::SessionGateEstimator::windowDuration,
                              now, formatter));
        }
    } else {
        content.caption = QStringLiteral("next window not before ") +
                          text(dayClock(*gate.activeResetAt, now, formatter));
    }
    for (const auto& slot : gate.slots) {
        SessionGateContent::Slot block;
        if (const auto* active = std::get_if<state::SessionSlot::Active>(&slot.state)) {
            block.kind = Kind::active;
            block.remaining = active->remainingFraction;
        } else if (std::holds_alternative<state::SessionSlot::Available>(slot.state)) {
            block.kind = Kind::available;
        } else if (std::holds_alternative<state::SessionSlot::Spent>(slot.state)) {
            block.kind = Kind::spent;
        } else {
            block.kind = Kind::outOfReach;
        }
        content.sessionSlots.push_back(block);
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
