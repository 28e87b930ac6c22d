#include "ui/charts/WindowFillChart.hpp"

#include "ui/charts/WindowFillPlot.hpp"
#include "ui/theme/Palette.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/PlainText.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace meterly::ui {

WindowFillChart::WindowFillChart(QWidget* parent)
    : QWidget(parent), plot_(new WindowFillPlot(this)), axisStart_(PlainText::label(this)),
      axisEnd_(PlainText::label(this)), title_(PlainText::label(this)),
      headline_(PlainText::label(this)), note_(PlainText::label(this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(5);
    column->addWidget(plot_);

    auto* axis = new QHBoxLayout();
    axis->setSpacing(0);
    axis->addWidget(axisStart_);
    axis->addStretch(1);
    axis->addWidget(axisEnd_);
    column->addLayout(axis);

    auto* caption = new QHBoxLayout();
    caption->setSpacing(0);
    caption->addWidget(title_, 0, Qt::AlignBaseline);
    caption->addStretch(1);
    caption->addWidget(headline_, 0, Qt::AlignBaseline);
    column->addLayout(caption);
    column->addWidget(note_);

    title_->setText(QStringLiteral("Window fill"));
    note_->setWordWrap(false);
    setAccessibleName(QStringLiteral("Fill of recent five-hour windows"));
    restyle();
    note_->hide();
}

void WindowFillChart::setContent(const WindowFillChartContent& content) {
    if (content_ == content) {
        return;
    }
    content_ = content;
    plot_->setContent(content);
    axisStart_->setText(content.axisStart);
    axisEnd_->setText(content.axisEnd);
    headline_->setText(content.headline);
    note_->setText(content.note.value_or(QString()));
    note_->setVisible(content.note.has_value());
    setAccessibleDescription(content.headline);
    restyle();
}

void WindowFillChart::restyle() {
    const Palette palette = Palette::current();
    Typography::style(axisStart_, Typography::caption2(), palette.tertiary);
    Typography::style(axisEnd_, Typography::caption2(), palette.tertiary);
    Typography::style(title_, Typography::caption(), palette.secondary);
    Typography::style(headline_, Typography::monospacedDigits(Typography::caption()),
                      content_.headlineIsSecondary ? palette.secondary : palette.primary);
    Typography::style(note_, Typography::caption2(), palette.tertiary);
}

} // namespace meterly::ui
