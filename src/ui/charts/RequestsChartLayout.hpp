#pragma once

#include "history/UsageHistoryReport.hpp"
#include "state/TextFormatter.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace meterly::ui {

// The geometry and texts of the requests chart: one bar per hourly bucket, oldest on the left,
// and a caption with the total.
class RequestsChartLayout {
public:
    static constexpr double plotHeight = 44;
    static constexpr double barSpacing = 2;
    static constexpr double cornerRadius = 2;
    static constexpr const char* emptyText = "No requests in the last 24 hours.";
    static constexpr const char* title = "Requests through the proxy";

    struct Bar {
        double x = 0;
        double width = 0;
        double height = 0;
        bool lit = false; // green with responses, faint without
        std::string help; // "14:00 — 3 requests"
        bool operator==(const Bar&) const = default;
    };

    static std::int64_t total(const std::vector<history::RequestBucket>& buckets);
    static std::int64_t peak(const std::vector<history::RequestBucket>& buckets);
    // "<total> in 24h".
    static std::string totalText(const std::vector<history::RequestBucket>& buckets);
    // The axis line's first label: the first bucket's hour, empty without buckets.
    static std::string axisStart(const std::vector<history::RequestBucket>& buckets,
                                 const state::TextFormatter& texts);

    static double barWidth(double width, std::size_t count);
    static double barHeight(std::int64_t responses, std::int64_t peak, double height);
    // The bars in an area `width` × `height`, standing on its bottom edge.
    static std::vector<Bar> bars(const std::vector<history::RequestBucket>& buckets, double width,
                                 double height, const state::TextFormatter& texts);
    static std::string help(const history::RequestBucket& bucket,
                            const state::TextFormatter& texts);
};

} // namespace meterly::ui
