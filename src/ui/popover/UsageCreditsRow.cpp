#include "ui/popover/UsageCreditsRow.hpp"

#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/PlainText.hpp"
#include "ui/widgets/TextButton.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

namespace meterly::ui {

UsageCreditsRow::UsageCreditsRow(QWidget* parent)
    : QWidget(parent), title_(PlainText::label(this)),
      open_(new TextButton(QStringLiteral("Open Claude"), this)), missing_(PlainText::label(this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);
    auto* line = new QHBoxLayout();
    line->addWidget(title_, 0, Qt::AlignVCenter);
    line->addStretch(1);
    line->addWidget(open_, 0, Qt::AlignVCenter);
    column->addLayout(line);
    column->addWidget(missing_);
    title_->setText(QStringLiteral("Usage credits"));
    missing_->setText(QStringLiteral("Claude isn't installed."));
    missing_->hide();
    connect(open_, &TextButton::clicked, this, &UsageCreditsRow::open);
    ThemeWatch::follow(this, [this] { restyle(); });
    restyle();
}

void UsageCreditsRow::setOpenAction(OpenClaude open) {
    openAction_ = std::move(open);
}

void UsageCreditsRow::reset() {
    notInstalled_ = false;
    missing_->hide();
}

void UsageCreditsRow::open() {
    if (!openAction_) {
        return;
    }
    QPointer<UsageCreditsRow> self(this);
    openAction_([self](bool installed) {
        if (self == nullptr) {
            return;
        }
        self->notInstalled_ = !installed;
        self->missing_->setVisible(!installed);
    });
}

void UsageCreditsRow::restyle() {
    const Palette palette = Palette::current();
    Typography::style(title_, Typography::caption(), palette.primary);
    open_->setFont(Typography::caption2());
    open_->setColours(palette.blue, palette.blue.lighter(120));
    Typography::style(missing_, Typography::caption2(), palette.red);
}

} // namespace meterly::ui
