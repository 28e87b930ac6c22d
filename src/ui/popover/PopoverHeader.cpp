#include "ui/popover/PopoverHeader.hpp"

#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/PlainText.hpp"
#include "ui/widgets/PulsingDot.hpp"
#include "ui/widgets/TextButton.hpp"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>

namespace meterly::ui {

PopoverHeader::PopoverHeader(QWidget* parent)
    : QWidget(parent), statusRow_(new QWidget(this)), dot_(new PulsingDot(6, statusRow_)),
      statusLabel_(PlainText::label(statusRow_)),
      quit_(new TextButton(QStringLiteral("Quit"), this)), modelLine_(PlainText::label(this)) {
    auto* status = new QHBoxLayout(statusRow_);
    status->setContentsMargins(0, 0, 0, 0);
    status->setSpacing(6);
    status->addWidget(dot_, 0, Qt::AlignVCenter);
    status->addWidget(statusLabel_, 0, Qt::AlignVCenter);
    // The status keeps its width when the header is short of room.
    statusRow_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(statusRow_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(quit_, 0, Qt::AlignVCenter);

    PlainText::setToolTip(quit_, QStringLiteral("Close Meterly's menu bar app. The proxy keeps "
                                                "running and Claude Code is unaffected."));
    connect(quit_, &TextButton::clicked, this, [this] {
        if (quitAction_) {
            quitAction_();
        }
    });

    modelLine_->setAlignment(Qt::AlignCenter);
    modelLine_->setAttribute(Qt::WA_TransparentForMouseEvents, true);
    modelLine_->hide();
    ThemeWatch::follow(this, [this] { restyle(); });
    restyle();
}

void PopoverHeader::setQuitAction(std::function<void()> quit) {
    quitAction_ = std::move(quit);
}

void PopoverHeader::setContent(const HeaderContent& content) {
    if (content_ == content && !statusLabel_->text().isEmpty()) {
        return;
    }
    content_ = content;
    statusLabel_->setText(content.status.label);
    PlainText::setToolTip(statusRow_, content.status.detail);
    modelLine_->setVisible(content.modelLine.has_value());
    restyle();
    placeModelLine();
}

void PopoverHeader::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeModelLine();
}

void PopoverHeader::placeModelLine() {
    const int width = std::max(0, this->width() - 2 * modelLineInset);
    modelLine_->setGeometry(modelLineInset, 0, width, height());
    // One line, cut at its tail when too long.
    const QFontMetrics metrics(modelLine_->font());
    modelLine_->setText(
        metrics.elidedText(content_.modelLine.value_or(QString()), Qt::ElideRight, width));
    modelLine_->raise();
}

void PopoverHeader::restyle() {
    const Palette palette = Palette::current();
    Typography::style(statusLabel_, Typography::caption(), palette.secondary);
    Typography::style(modelLine_, Typography::caption(), palette.secondary);
    quit_->setFont(Typography::caption());
    quit_->setColours(palette.secondary, palette.red);
    switch (content_.status.dot) {
    case LiveStatusContent::Dot::green:
        dot_->setColour(palette.green);
        break;
    case LiveStatusContent::Dot::orange:
        dot_->setColour(palette.orange);
        break;
    case LiveStatusContent::Dot::secondary:
        dot_->setColour(palette.secondary);
        break;
    }
}

} // namespace meterly::ui
