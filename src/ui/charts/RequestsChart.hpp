#pragma once

#include "history/UsageHistoryReport.hpp"

#include <QWidget>
#include <memory>
#include <vector>

class QLabel;

namespace meterly::state {
class TextFormatter;
}

namespace meterly::ui {

class RequestsPlot;

// Requests through the proxy in each of the last 24 hours: the bars (or a line saying there were
// none), the axis from the first hour to "now", and a caption with the total.
class RequestsChart : public QWidget {
    Q_OBJECT
public:
    explicit RequestsChart(std::shared_ptr<const state::TextFormatter> texts,
                           QWidget* parent = nullptr);

    void setBuckets(std::vector<history::RequestBucket> buckets);

    RequestsPlot* plot() const { return plot_; }
    QLabel* emptyLabel() const { return empty_; }
    QLabel* totalLabel() const { return total_; }
    QLabel* axisStartLabel() const { return axisStart_; }

protected:
private:
    void restyle();

    std::shared_ptr<const state::TextFormatter> texts_;
    QLabel* empty_;
    RequestsPlot* plot_;
    QWidget* axis_;
    QLabel* axisStart_;
    QLabel* axisNow_;
    QLabel* title_;
    QLabel* total_;
};

// The bars alone, 44 points high, each with its hour and count as help.
class RequestsPlot : public QWidget {
    Q_OBJECT
public:
    RequestsPlot(std::shared_ptr<const state::TextFormatter> texts, QWidget* parent = nullptr);

    void setBuckets(std::vector<history::RequestBucket> buckets);
    // The help text of the bar under `point`, empty between bars.
    QString helpAt(QPoint point) const;

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<const state::TextFormatter> texts_;
    std::vector<history::RequestBucket> buckets_;
};

} // namespace meterly::ui
