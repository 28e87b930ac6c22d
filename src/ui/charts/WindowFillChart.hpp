#pragma once

#include "ui/charts/WindowFillChartContent.hpp"

#include <QWidget>

class QLabel;

namespace meterly::ui {

class WindowFillPlot;

// How full the recent five-hour windows got: the plot, the time axis, the headline and a note.
class WindowFillChart : public QWidget {
    Q_OBJECT
public:
    explicit WindowFillChart(QWidget* parent = nullptr);

    void setContent(const WindowFillChartContent& content);
    const WindowFillChartContent& content() const { return content_; }

    WindowFillPlot* plot() const { return plot_; }

private:
    void restyle();

    WindowFillChartContent content_;
    WindowFillPlot* plot_;
    QLabel* axisStart_;
    QLabel* axisEnd_;
    QLabel* title_;
    QLabel* headline_;
    QLabel* note_;
};

} // namespace meterly::ui
