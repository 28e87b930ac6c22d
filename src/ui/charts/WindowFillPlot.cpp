#include "ui/charts/WindowFillPlot.hpp"

#include "ui/theme/Palette.hpp"
#include "ui/widgets/PlainText.hpp"
#include "ui/widgets/Share.hpp"

#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <algorithm>

namespace meterly::ui {

WindowFillPlot::WindowFillPlot(QWidget* parent) : QWidget(parent) {
    setFixedHeight(static_cast<int>(plotHeight));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void WindowFillPlot::setContent(const WindowFillChartContent& content) {
    if (content_ == content) {
        return;
    }
    content_ = content;
    update();
}

std::vector<QRectF> WindowFillPlot::barRects(const std::vector<WindowFillChartContent::Bar>& bars,
                                             QSizeF area) {
    std::vector<QRectF> rects;
    if (bars.empty()) {
        return rects;
    }
    const auto n = static_cast<double>(bars.size());
    const double width = std::max(0.0, (area.width() - (n - 1) * barGap) / n);
    rects.reserve(bars.size());
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const double height =
            std::max(area.height() * clampedShare(bars[i].fraction), minimumBarHeight);
        const double x = static_cast<double>(i) * (width + barGap);
        rects.emplace_back(x, area.height() - height, width, height);
    }
    return rects;
}

std::optional<QRectF> WindowFillPlot::averageLineRect(const WindowFillChartContent& content,
                                                      QSizeF area) {
    if (!content.averageLine) {
        return std::nullopt;
    }
    const double y = area.height() - area.height() * clampedShare(*content.averageLine);
    // The line is centred on its height above the bottom edge.
    return QRectF(0, y - 0.5, area.width(), 1);
}

std::optional<QString> WindowFillPlot::tooltipAt(QPointF point) const {
    const auto rects = barRects(content_.bars, QSizeF(size()));
    for (std::size_t i = 0; i < rects.size(); ++i) {
        // The whole column of a bar answers, not only its coloured part.
        const QRectF column(rects[i].left(), 0, rects[i].width(), height());
        if (column.contains(point)) {
            return content_.bars[i].tooltip;
        }
    }
    return std::nullopt;
}

bool WindowFillPlot::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (auto tip = tooltipAt(help->pos())) {
            QToolTip::showText(help->globalPos(), PlainText::toolTip(*tip), this);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QWidget::event(event);
}

void WindowFillPlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    const Palette palette = Palette::current();
    const QSizeF area(size());
    const auto rects = barRects(content_.bars, area);
    for (std::size_t i = 0; i < rects.size(); ++i) {
        painter.setBrush(content_.bars[i].isActive ? Palette::withOpacity(palette.green, 0.45)
                                                   : palette.green);
        QPainterPath path;
        const double radius = std::min({2.0, rects[i].width() / 2, rects[i].height() / 2});
        path.addRoundedRect(rects[i], radius, radius);
        painter.drawPath(path);
    }
    if (auto line = averageLineRect(content_, area)) {
        painter.setBrush(Palette::withOpacity(palette.secondary, 0.45));
        painter.drawRect(*line);
    }
}

} // namespace meterly::ui
