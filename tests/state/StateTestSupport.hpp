#pragma once

#include "core/Time.hpp"
#include "history/UsageHistoryReport.hpp"
#include "state/BlockingWorker.hpp"
#include "support/VirtualTimeExecutor.hpp"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <map>
#include <vector>

namespace meterly::state::testing {

// The instant the local clock (TZ) reads the given wall time; the earlier one when it reads it
// twice.
inline core::Date localDate(int year, int month, int day, int hour, int minute = 0,
                            int second = 0) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    return static_cast<core::Date>(std::mktime(&fields));
}

struct BucketFill {
    std::int64_t responses = 0;
    std::int64_t tokens = 0;
};

// `count` hourly buckets from `first` on, empty except those given by their index.
inline std::vector<history::RequestBucket>
hourlyBuckets(core::Date first, int count, const std::map<int, BucketFill>& filled = {}) {
    std::vector<history::RequestBucket> buckets;
    for (int i = 0; i < count; ++i) {
        history::RequestBucket bucket{first + i * 3600.0, 0, 0};
        if (auto it = filled.find(i); it != filled.end()) {
            bucket.responseCount = it->second.responses;
            bucket.totalTokens = it->second.tokens;
        }
        buckets.push_back(bucket);
    }
    return buckets;
}

// Runs the main executor until the worker has nothing left and the outcomes it posted have run;
// false when that takes longer than `limit`. (The worker counts a job as pending until just after
// it has posted the outcome, so the wait looks again every few milliseconds.)
inline bool settle(VirtualTimeExecutor& main, const BlockingWorker& worker,
                   std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (worker.pending() > 0 && std::chrono::steady_clock::now() < deadline) {
        main.runUntil([&worker] { return worker.pending() == 0; }, std::chrono::milliseconds(5));
    }
    main.runReady();
    return worker.pending() == 0;
}

} // namespace meterly::state::testing
