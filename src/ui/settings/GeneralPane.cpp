#include "ui/settings/GeneralPane.hpp"

#include "state/TextFormatter.hpp"
#include "ui/settings/LaunchAtLoginRow.hpp"
#include "ui/settings/SettingsPresenter.hpp"
#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/update/UpdateOffer.hpp"
#include "ui/widgets/Divider.hpp"
#include "ui/widgets/PlainText.hpp"
#include "ui/widgets/Spinner.hpp"
#include "update/UpdateState.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace meterly::ui {

namespace {

QWidget* paddedDivider(QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 4, 0, 4);
    column->addWidget(new Divider(box));
    return box;
}

} // namespace

GeneralPane::GeneralPane(std::shared_ptr<const state::Autostart> loginItem,
                         state::BlockingWorker& worker, QString version, Updates updates,
                         QWidget* parent)
    : QWidget(parent), column_(new QVBoxLayout(this)), updates_(std::move(updates)),
      banner_(new UpdateBanner(this)), bannerDivider_(paddedDivider(this)),
      launchAtLogin_(new LaunchAtLoginRow(std::move(loginItem), worker, this)),
      versionTitle_(PlainText::label(this)), version_(PlainText::label(this)),
      checkRow_(new QWidget(this)),
      check_(new QPushButton(QStringLiteral("Check for updates"), checkRow_)),
      checkSpinner_(Spinner::create(checkRow_)), summary_(PlainText::label(checkRow_)) {
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(10);
    banner_->setActions(updates_.bannerActions);
    column_->addWidget(banner_);
    column_->addWidget(bannerDivider_);
    column_->addWidget(launchAtLogin_);
    column_->addWidget(paddedDivider(this));
    auto* versionRow = new QHBoxLayout;
    versionTitle_->setText(QStringLiteral("Version"));
    version_->setText(version);
    version_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    versionRow->addWidget(versionTitle_);
    versionRow->addStretch(1);
    versionRow->addWidget(version_);
    column_->addLayout(versionRow);
    auto* checkRow = new QHBoxLayout(checkRow_);
    checkRow->setContentsMargins(0, 0, 0, 0);
    checkRow->setSpacing(8);
    check_->setAutoDefault(false);
    check_->setFont(Typography::caption());
    checkRow->addWidget(check_);
    checkRow->addWidget(checkSpinner_);
    checkRow->addStretch(1);
    checkRow->addWidget(summary_);
    column_->addWidget(checkRow_);
    column_->addStretch(1);
    connect(check_, &QPushButton::clicked, this, [this] {
        if (updates_.state != nullptr) {
            updates_.state->checkNow();
        }
    });
    if (updates_.state != nullptr) {
        updatesChanged_ = updates_.state->changed().connect([this] { refresh(); });
    }
    ThemeWatch::follow(this, [this] { restyle(); });
    restyle();
    refresh();
}

void GeneralPane::refresh() {
    const auto offered = updates_.offer != nullptr ? updates_.offer->banner() : std::nullopt;
    banner_->setVisible(offered.has_value());
    bannerDivider_->setVisible(offered.has_value());
    if (offered) {
        banner_->setContent(*offered);
    }
    checkRow_->setVisible(updates_.state != nullptr);
    if (updates_.state == nullptr) {
        return;
    }
    const auto& updateState = *updates_.state;
    SettingsPresenter::UpdateCheck check;
    check.isChecking = *updateState.isChecking();
    if (const auto& info = updateState.status()->offered()) {
        check.availableVersion = info->latestVersion;
    }
    check.lastCheckedAt = updateState.lastCheckedAt();
    check.lastUserCheckFailed = *updateState.lastUserCheckFailed();
    check_->setEnabled(!check.isChecking);
    checkSpinner_->setVisible(check.isChecking);
    const core::Date now = updates_.now ? updates_.now() : core::systemNow();
    summary_->setText(
        QString::fromStdString(SettingsPresenter::updateCheckSummary(check, now, *updates_.texts)));
}

void GeneralPane::showEvent(QShowEvent* event) {
    refresh();
    QWidget::showEvent(event);
}

void GeneralPane::restyle() {
    const Palette colours = Palette::current();
    Typography::style(versionTitle_, Typography::caption(), colours.primary);
    Typography::style(version_, Typography::caption(), colours.secondary);
    Typography::style(summary_, Typography::caption(), colours.secondary);
}

} // namespace meterly::ui
