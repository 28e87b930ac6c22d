#include "ui/popover/PopoverView.hpp"

#include "ui/charts/WindowFillChart.hpp"
#include "ui/popover/HistorySection.hpp"
#include "ui/popover/NoticeView.hpp"
#include "ui/popover/PopoverHeader.hpp"
#include "ui/popover/SessionGateRow.hpp"
#include "ui/popover/UsageCreditsRow.hpp"
#include "ui/popover/WindowRow.hpp"
#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/update/UpdateBanner.hpp"
#include "ui/widgets/Divider.hpp"
#include "ui/widgets/PlainText.hpp"
#include "ui/widgets/TextButton.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace meterly::ui {
namespace {

void call(const std::function<void()>& action) {
    if (action) {
        action();
    }
}

} // namespace

PopoverView::PopoverView(PopoverActions actions, QWidget* parent)
    : QWidget(parent), actions_(std::move(actions)), header_(new PopoverHeader(this)),
      banner_(new UpdateBanner(this)),
      notConnected_(NoticeView::notConnected([this] { call(actions_.openSetup); }, this)),
      waiting_(new NoticeView(this)), windowRows_{new WindowRow(this), new WindowRow(this)},
      sessionGate_(new SessionGateRow(this)), windowFill_(new WindowFillChart(this)),
      historyDivider_(new Divider(this)), history_(new HistorySection(this)),
      footerDivider_(new Divider(this)), credits_(new UsageCreditsRow(this)),
      settings_(new TextButton(QStringLiteral("Settings"), this)),
      version_(PlainText::label(this)) {
    setFixedWidth(popoverWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(spacing);
    column->setSizeConstraint(QLayout::SetFixedSize);
    for (QWidget* item : std::initializer_list<QWidget*>{
             header_, banner_, notConnected_, waiting_, windowRows_[0], windowRows_[1],
             sessionGate_, windowFill_, historyDivider_, history_, footerDivider_, credits_}) {
        item->setFixedWidth(popoverWidth - 2 * padding);
        column->addWidget(item);
    }
    auto* footer = new QHBoxLayout();
    footer->setSpacing(0);
    footer->addWidget(settings_, 0, Qt::AlignVCenter);
    footer->addStretch(1);
    footer->addWidget(version_, 0, Qt::AlignVCenter);
    column->addLayout(footer);

    header_->setQuitAction([this] { call(actions_.quit); });
    windowRows_[0]->setHideWarningAction([this] {
        if (actions_.hideRunwayWarning) {
            actions_.hideRunwayWarning(PopoverActions::Window::fiveHour);
        }
    });
    windowRows_[1]->setHideWarningAction([this] {
        if (actions_.hideRunwayWarning) {
            actions_.hideRunwayWarning(PopoverActions::Window::sevenDay);
        }
    });
    banner_->setActions(actions_.banner);
    credits_->setOpenAction([this](std::function<void(bool)> done) {
        if (actions_.openClaude) {
            actions_.openClaude(std::move(done));
        }
    });
    history_->setRevealAction([this](const QString& path) {
        if (actions_.revealFolder) {
            actions_.revealFolder(path);
        }
    });
    connect(settings_, &TextButton::clicked, this, [this] { call(actions_.openSettings); });
    setContent(content_);
    filled_ = false;
    ThemeWatch::follow(this, [this] {
        restyle();
        update();
    });
    restyle();
}

void PopoverView::resetViewState() {
    credits_->reset();
}

void PopoverView::setContent(const PopoverContent& content) {
    if (filled_ && content_ == content) {
        return;
    }
    filled_ = true;
    content_ = content;
    header_->setContent(content.header);

    banner_->setVisible(content.banner.has_value());
    if (content.banner) {
        banner_->setContent(*content.banner);
    }

    using Form = LimitsContent::Form;
    notConnected_->setVisible(content.limits.form == Form::notConnected);
    waiting_->setVisible(content.limits.form == Form::waiting);
    if (content.limits.form == Form::waiting) {
        waiting_->setContent(content.limits.waiting);
    }
    for (std::size_t i = 0; i < 2; ++i) {
        const bool shown =
            content.limits.form == Form::windows && i < content.limits.windows.size();
        windowRows_[i]->setVisible(shown);
        if (shown) {
            windowRows_[i]->setContent(content.limits.windows[i]);
        }
    }

    sessionGate_->setVisible(content.sessionGate.has_value());
    if (content.sessionGate) {
        sessionGate_->setContent(*content.sessionGate);
    }
    const bool chart = content.windowFill && content.windowFill->bars.size() >= 2;
    windowFill_->setVisible(chart);
    if (chart) {
        windowFill_->setContent(*content.windowFill);
    }
    historyDivider_->setVisible(content.history.has_value());
    history_->setVisible(content.history.has_value());
    if (content.history) {
        history_->setContent(*content.history);
    }
    version_->setText(content.versionFooter);
}

void PopoverView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Palette::current().panel);
}

void PopoverView::restyle() {
    const Palette palette = Palette::current();
    settings_->setFont(Typography::caption2());
    settings_->setColours(palette.blue, palette.blue.lighter(120));
    Typography::style(version_, Typography::caption2(), palette.tertiary);
}

} // namespace meterly::ui
