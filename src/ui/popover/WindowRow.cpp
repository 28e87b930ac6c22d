#include "ui/popover/WindowRow.hpp"

#include "ui/charts/DotBar.hpp"
#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/PlainText.hpp"
#include "ui/widgets/TextButton.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace meterly::ui {

WindowRow::WindowRow(QWidget* parent)
    : QWidget(parent), title_(PlainText::label(this)), percent_(PlainText::label(this)),
      dotBar_(new DotBar(DotBarLayout(4, 2.4, 2), this)), warning_(new QWidget(this)),
      warningText_(PlainText::label(warning_)),
      hideWarning_(new TextButton(QStringLiteral("✕"), warning_)),
      resetsIn_(PlainText::label(this)), resetClock_(PlainText::label(this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(5);

    auto* header = new QHBoxLayout();
    header->addWidget(title_, 0, Qt::AlignVCenter);
    header->addStretch(1);
    header->addWidget(percent_, 0, Qt::AlignVCenter);
    column->addLayout(header);
    column->addWidget(dotBar_);

    auto* warningRow = new QHBoxLayout(warning_);
    warningRow->setContentsMargins(0, 0, 0, 0);
    warningRow->addWidget(warningText_, 0, Qt::AlignVCenter);
    warningRow->addStretch(1);
    warningRow->addWidget(hideWarning_, 0, Qt::AlignVCenter);
    warningText_->setText(QStringLiteral("may run out before it resets"));
    PlainText::setToolTip(hideWarning_, QStringLiteral("Hide this warning"));
    hideWarning_->setAccessibleName(QStringLiteral("Hide this warning"));
    connect(hideWarning_, &TextButton::clicked, this, [this] {
        if (hideAction_) {
            hideAction_();
        }
    });
    column->addWidget(warning_);
    warning_->hide();

    auto* reset = new QHBoxLayout();
    reset->addWidget(resetsIn_, 0, Qt::AlignVCenter);
    reset->addStretch(1);
    reset->addWidget(resetClock_, 0, Qt::AlignVCenter);
    column->addLayout(reset);
    ThemeWatch::follow(this, [this] { restyle(); });
    restyle();
}

void WindowRow::setHideWarningAction(std::function<void()> hide) {
    hideAction_ = std::move(hide);
}

void WindowRow::setContent(const WindowRowContent& content) {
    if (content_ == content && !title_->text().isEmpty()) {
        return;
    }
    content_ = content;
    title_->setText(content.title);
    percent_->setText(content.percentText);
    dotBar_->setFraction(content.remaining);
    warning_->setVisible(content.showsRunwayWarning);
    resetsIn_->setText(content.resetsIn);
    resetClock_->setText(content.resetClock);
    restyle();
}

void WindowRow::restyle() {
    const Palette palette = Palette::current();
    const QColor tone = RingGauge::toneColour(content_.tone, palette);
    Typography::style(title_, Typography::system(12, QFont::Medium), palette.primary);
    Typography::style(percent_,
                      Typography::monospacedDigits(Typography::system(12, QFont::DemiBold)), tone);
    dotBar_->setColor(tone);
    Typography::style(warningText_, Typography::caption(), palette.orange);
    QFont mark = Typography::system(9, QFont::DemiBold);
    hideWarning_->setFont(mark);
    hideWarning_->setColours(Palette::withOpacity(palette.orange, 0.7), palette.orange);
    const QFont caption = Typography::monospacedDigits(Typography::caption());
    Typography::style(resetsIn_, caption, palette.secondary);
    Typography::style(resetClock_, caption, palette.secondary);
}

} // namespace meterly::ui
