#include "ui/popover/SessionGateRow.hpp"

#include "ui/popover/SessionSlotStrip.hpp"
#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/PlainText.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace meterly::ui {

SessionGateRow::SessionGateRow(QWidget* parent)
    : QWidget(parent), title_(PlainText::label(this)), count_(PlainText::label(this)),
      strip_(new SessionSlotStrip(this)), caption_(PlainText::label(this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(5);
    auto* header = new QHBoxLayout();
    header->addWidget(title_, 0, Qt::AlignVCenter);
    header->addStretch(1);
    header->addWidget(count_, 0, Qt::AlignVCenter);
    column->addLayout(header);
    column->addWidget(strip_);
    column->addWidget(caption_);
    title_->setText(QStringLiteral("Today's windows"));
    setAccessibleName(QStringLiteral("Today's five-hour windows"));
    ThemeWatch::follow(this, [this] { restyle(); });
    restyle();
}

void SessionGateRow::setContent(const SessionGateContent& content) {
    content_ = content;
    count_->setText(content.countText);
    caption_->setText(content.caption);
    setAccessibleDescription(content.caption);
    strip_->setSlots(content.sessionSlots);
}

void SessionGateRow::restyle() {
    const Palette palette = Palette::current();
    Typography::style(title_, Typography::system(12, QFont::Medium), palette.primary);
    Typography::style(count_, Typography::monospacedDigits(Typography::system(12, QFont::DemiBold)),
                      palette.secondary);
    Typography::style(caption_, Typography::caption(), palette.secondary);
}

} // namespace meterly::ui
