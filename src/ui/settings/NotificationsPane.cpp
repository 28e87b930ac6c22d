#include "ui/settings/NotificationsPane.hpp"

#include "state/UsageViewModel.hpp"
#include "ui/settings/SettingToggle.hpp"
#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/Divider.hpp"
#include "ui/widgets/PlainText.hpp"

#include <QLabel>
#include <QVBoxLayout>

namespace meterly::ui {

using Kind = state::NotificationKind;

namespace {

QString text(std::string_view value) {
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

} // namespace

NotificationsPane::NotificationsPane(state::UsageViewModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    column->addWidget(group(QStringLiteral("Limit warnings"),
                            QStringLiteral("On the way down through your 5-hour window."),
                            {Kind::remaining50, Kind::remaining25, Kind::remaining10}));
    column->addWidget(group(QStringLiteral("Resets"),
                            QStringLiteral("When a window rolls over and the quota is back."),
                            {Kind::fiveHourReset, Kind::weekReset}));
    column->addWidget(new Divider(this));
    runway_ =
        new SettingToggle(QStringLiteral("Show \"may run out\" warnings"), std::nullopt, this);
    runway_->onToggled = [this](bool on) { model_.setShowsRunwayWarnings(on); };
    column->addWidget(runway_);
    column->addStretch(1);
    preferencesChanged_ = model_.notifications()->changed().connect([this] { refresh(); });
    modelChanged_ = model_.changed().connect([this] { refresh(); });
    ThemeWatch::follow(this, [this] { restyle(); });
    restyle();
    refresh();
}

QWidget* NotificationsPane::group(const QString& title, const QString& caption,
                                  std::initializer_list<Kind> kinds) {
    auto* box = new QWidget(this);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto* heading = PlainText::label(box);
    heading->setText(title);
    auto* note = PlainText::label(box);
    note->setText(caption);
    note->setContentsMargins(0, 0, 0, 2);
    column->addWidget(heading);
    column->addWidget(note);
    groupTitles_.push_back(heading);
    groupCaptions_.push_back(note);
    for (auto kind : kinds) {
        auto* toggle = new SettingToggle(text(state::title(kind)), text(state::body(kind)), box);
        toggle->onToggled = [this, kind](bool on) {
            model_.notifications()->setEnabled(on, kind);
            model_.notificationPreferencesChanged();
        };
        toggles_[kind] = toggle;
        column->addWidget(toggle);
    }
    return box;
}

void NotificationsPane::refresh() {
    for (auto& [kind, toggle] : toggles_) {
        toggle->setOn(model_.notifications()->isEnabled(kind));
    }
    runway_->setOn(model_.showsRunwayWarnings());
}

void NotificationsPane::restyle() {
    const Palette colours = Palette::current();
    for (auto* label : groupTitles_) {
        Typography::style(label, Typography::system(13, QFont::DemiBold), colours.primary);
    }
    for (auto* label : groupCaptions_) {
        Typography::style(label, Typography::caption2(), colours.tertiary);
    }
}

} // namespace meterly::ui
