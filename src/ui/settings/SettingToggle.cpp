#include "ui/settings/SettingToggle.hpp"

#include "ui/settings/SettingsPresenter.hpp"
#include "ui/settings/ToggleSwitch.hpp"
#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/PlainText.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace meterly::ui {

SettingToggle::SettingToggle(const QString& title, std::optional<QString> caption, QWidget* parent)
    : QWidget(parent), title_(PlainText::label(this)), caption_(PlainText::label(this)),
      switch_(new ToggleSwitch(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    title_->setText(title);
    caption_->setText(caption.value_or(QString()));
    caption_->setWordWrap(true);
    caption_->setVisible(caption.has_value());
    texts->addWidget(title_);
    texts->addWidget(caption_);
    texts->addStretch(1);
    row->addLayout(texts, 1);
    row->addWidget(switch_, 0, Qt::AlignTop);
    // The row reads as one element: its title and caption.
    setAccessibleName(QString::fromStdString(SettingsPresenter::accessibleName(
        title.toStdString(),
        caption ? std::optional<std::string>(caption->toStdString()) : std::nullopt)));
    switch_->setAccessibleName(accessibleName());
    connect(switch_, &QAbstractButton::clicked, this, [this](bool wanted) {
        // The switch shows what the owner says, not where the click left it.
        switch_->setChecked(on_);
        if (enabled_ && onToggled) {
            onToggled(wanted);
        }
    });
    ThemeWatch::follow(this, [this] { restyle(); });
    restyle();
}

void SettingToggle::setOn(bool on) {
    on_ = on;
    switch_->setChecked(on);
}

bool SettingToggle::isOn() const {
    return on_;
}

void SettingToggle::setRowEnabled(bool enabled) {
    enabled_ = enabled;
    switch_->setEnabled(enabled);
    restyle();
}

void SettingToggle::restyle() {
    const Palette colours = Palette::current();
    Typography::style(title_, Typography::caption(), enabled_ ? colours.primary : colours.tertiary);
    Typography::style(caption_, Typography::caption2(), colours.tertiary);
}

} // namespace meterly::ui
