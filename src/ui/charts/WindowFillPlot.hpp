#pragma once

#include "ui/charts/WindowFillChartContent.hpp"

#include <QRectF>
#include <QWidget>
#include <vector>

namespace meterly::ui {

// The bars of the window-fill chart, 30 points high, with a tool tip for each bar.
class WindowFillPlot : public QWidget {
    Q_OBJECT
public:
    static constexpr double plotHeight = 30;
    static constexpr double barGap = 3;
    static constexpr double minimumBarHeight = 1.5;

    explicit WindowFillPlot(QWidget* parent = nullptr);

    void setContent(const WindowFillChartContent& content);

    // The bar rectangles for an area of the given size, left to right, standing on its bottom.
    static std::vector<QRectF> barRects(const std::vector<WindowFillChartContent::Bar>& bars,
                                        QSizeF area);
    // The average line's rectangle (1 point high), when the content has one.
    static std::optional<QRectF> averageLineRect(const WindowFillChartContent& content,
                                                 QSizeF area);

    // The tool tip of the bar under `point`, or none.
    std::optional<QString> tooltipAt(QPointF point) const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    WindowFillChartContent content_;
};

} // namespace meterly::ui
