#include "ui/charts/RequestsChartLayout.hpp"

#include <algorithm>

namespace meterly::ui {

std::int64_t RequestsChartLayout::total(const std::vector<history::RequestBucket>& buckets) {
    std::int64_t sum = 0;
    for (const auto& bucket : buckets) {
        sum += bucket.responseCount;
    }
    return sum;
}

std::int64_t RequestsChartLayout::peak(const std::vector<history::RequestBucket>& buckets) {
    std::int64_t highest = 0;
    for (const auto& bucket : buckets) {
        highest = std::max(highest, bucket.responseCount);
    }
    return highest;
}

std::string RequestsChartLayout::totalText(const std::vector<history::RequestBucket>& buckets) {
    return std::to_string(total(buckets)) + " in 24h";
}

std::string RequestsChartLayout::axisStart(const std::vector<history::RequestBucket>& buckets,
                                           const state::TextFormatter& texts) {
    if (buckets.empty()) {
        return {};
    }
    return texts.clock(buckets.front().start, state::ClockPattern::hourMinute24);
}

double RequestsChartLayout::barWidth(double width, std::size_t count) {
    if (count == 0) {
        return 0;
    }
    const auto n = static_cast<double>(count);
    return std::max((width - (n - 1) * barSpacing) / n, 1.0);
}

double RequestsChartLayout::barHeight(std::int64_t responses, std::int64_t peak, double height) {
    if (responses <= 0) {
        return 1;
    }
    if (peak < 1) {
        return 2;
    }
    return std::max(height * static_cast<double>(responses) / static_cast<double>(peak), 2.0);
}

std::string RequestsChartLayout::help(const history::RequestBucket& bucket,
                                      const state::TextFormatter& texts) {
    return texts.clock(bucket.start, state::ClockPattern::hourMinute24) + " — " +
           std::to_string(bucket.responseCount) + " request" +
           (bucket.responseCount == 1 ? "" : "s");
}

std::vector<RequestsChartLayout::Bar>
RequestsChartLayout::bars(const std::vector<history::RequestBucket>& buckets, double width,
                          double height, const state::TextFormatter& texts) {
    std::vector<Bar> result;
    const double each = barWidth(width, buckets.size());
    const auto highest = peak(buckets);
    double x = 0;
    for (const auto& bucket : buckets) {
        Bar bar;
        bar.x = x;
        bar.width = each;
        bar.height = barHeight(bucket.responseCount, highest, height);
        bar.lit = bucket.responseCount > 0;
        bar.help = help(bucket, texts);
        result.push_back(std::move(bar));
        x += each + barSpacing;
    }
    return result;
}

} // namespace meterly::ui
