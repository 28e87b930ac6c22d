#include "ui/charts/RequestsChart.hpp"

#include "ui/charts/RequestsChartLayout.hpp"
#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/PlainText.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <QVBoxLayout>

namespace meterly::ui {

using Layout = RequestsChartLayout;

RequestsChart::RequestsChart(std::shared_ptr<const state::TextFormatter> texts, QWidget* parent)
    : QWidget(parent), texts_(std::move(texts)), empty_(PlainText::label(this)),
      plot_(new RequestsPlot(texts_, this)), axis_(new QWidget(this)),
      axisStart_(PlainText::label(axis_)), axisNow_(PlainText::label(axis_)),
      title_(PlainText::label(this)), total_(PlainText::label(this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    empty_->setText(QString::fromUtf8(Layout::emptyText));
    empty_->setFixedHeight(static_cast<int>(Layout::plotHeight));
    empty_->setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
    column->addWidget(empty_);
    column->addWidget(plot_);
    auto* axisRow = new QHBoxLayout(axis_);
    axisRow->setContentsMargins(0, 0, 0, 0);
    axisRow->addWidget(axisStart_);
    axisRow->addStretch(1);
    axisNow_->setText(QStringLiteral("now"));
    axisRow->addWidget(axisNow_);
    column->addWidget(axis_);
    auto* caption = new QHBoxLayout;
    title_->setText(QString::fromUtf8(Layout::title));
    caption->addWidget(title_, 0, Qt::AlignBaseline);
    caption->addStretch(1);
    caption->addWidget(total_, 0, Qt::AlignBaseline);
    column->addLayout(caption);
    ThemeWatch::follow(this, [this] { restyle(); });
    restyle();
    setBuckets({});
}

void RequestsChart::setBuckets(std::vector<history::RequestBucket> buckets) {
    const bool quiet = Layout::total(buckets) == 0;
    empty_->setVisible(quiet);
    plot_->setVisible(!quiet);
    axis_->setVisible(!quiet);
    axisStart_->setText(QString::fromStdString(Layout::axisStart(buckets, *texts_)));
    total_->setText(QString::fromStdString(Layout::totalText(buckets)));
    plot_->setBuckets(std::move(buckets));
}

void RequestsChart::restyle() {
    const Palette colours = Palette::current();
    Typography::style(empty_, Typography::caption2(), colours.tertiary);
    Typography::style(axisStart_, Typography::caption2(), colours.tertiary);
    Typography::style(axisNow_, Typography::caption2(), colours.tertiary);
    Typography::style(title_, Typography::caption(), colours.secondary);
    Typography::style(total_, Typography::monospacedDigits(Typography::caption()), colours.primary);
}

RequestsPlot::RequestsPlot(std::shared_ptr<const state::TextFormatter> texts, QWidget* parent)
    : QWidget(parent), texts_(std::move(texts)) {
    setFixedHeight(static_cast<int>(Layout::plotHeight));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMouseTracking(true);
}

void RequestsPlot::setBuckets(std::vector<history::RequestBucket> buckets) {
    buckets_ = std::move(buckets);
    update();
}

QSize RequestsPlot::sizeHint() const {
    return {190, static_cast<int>(Layout::plotHeight)};
}

QString RequestsPlot::helpAt(QPoint point) const {
    for (const auto& bar : Layout::bars(buckets_, width(), height(), *texts_)) {
        if (point.x() >= bar.x && point.x() < bar.x + bar.width) {
            return QString::fromStdString(bar.help);
        }
    }
    return {};
}

bool RequestsPlot::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = helpAt(help->pos());
        if (text.isEmpty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(help->globalPos(), PlainText::toolTip(text), this);
        }
        return true;
    }
    return QWidget::event(event);
}

void RequestsPlot::paintEvent(QPaintEvent*) {
    const Palette colours = Palette::current();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const double h = height();
    for (const auto& bar : Layout::bars(buckets_, width(), h, *texts_)) {
        const QRectF shape(bar.x, h - bar.height, bar.width, bar.height);
        const double radius = std::min({Layout::cornerRadius, bar.width / 2, bar.height / 2});
        painter.setBrush(bar.lit ? colours.green : Palette::withOpacity(colours.secondary, 0.25));
        painter.drawRoundedRect(shape, radius, radius);
    }
}

} // namespace meterly::ui
