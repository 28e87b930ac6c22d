#include "ui/settings/GeneralPane.hpp"

#include "ui/settings/LaunchAtLoginRow.hpp"
#include "ui/theme/Palette.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/Divider.hpp"
#include "ui/widgets/PlainText.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
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

GeneralPane::GeneralPane(state::LoginItem loginItem, state::BlockingWorker& worker, QString version,
                         QWidget* parent)
    : QWidget(parent), column_(new QVBoxLayout(this)),
      launchAtLogin_(new LaunchAtLoginRow(std::move(loginItem), worker, this)),
      versionTitle_(PlainText::label(this)), version_(PlainText::label(this)) {
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(10);
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
    column_->addStretch(1);
    restyle();
}

void GeneralPane::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ApplicationPaletteChange) {
        restyle();
    }
    QWidget::changeEvent(event);
}

void GeneralPane::restyle() {
    const Palette colours = Palette::current();
    Typography::style(versionTitle_, Typography::caption(), colours.primary);
    Typography::style(version_, Typography::caption(), colours.secondary);
}

} // namespace meterly::ui
