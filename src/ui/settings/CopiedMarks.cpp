#include "ui/settings/CopiedMarks.hpp"

namespace meterly::ui {

CopiedMarks::CopiedMarks(state::MainExecutor& main, std::function<void()> expired)
    : main_(main), expired_(std::move(expired)) {}

CopiedMarks::~CopiedMarks() {
    *alive_ = false;
    if (summaryTimer_) {
        main_.cancel(*summaryTimer_);
    }
    for (const auto& [path, timer] : pathTimers_) {
        main_.cancel(timer);
    }
}

void CopiedMarks::copiedSummary() {
    summary_ = true;
    if (summaryTimer_) {
        main_.cancel(*summaryTimer_);
    }
    summaryTimer_ = main_.postAfter(copiedFor, [this, alive = alive_] {
        if (!*alive) {
            return;
        }
        summaryTimer_.reset();
        summary_ = false;
        expired_();
    });
}

void CopiedMarks::copiedPath(const std::string& path) {
    path_ = path;
    if (const auto earlier = pathTimers_.find(path); earlier != pathTimers_.end()) {
        main_.cancel(earlier->second);
        pathTimers_.erase(earlier);
    }
    pathTimers_[path] = main_.postAfter(copiedFor, [this, alive = alive_, path] {
        if (!*alive) {
            return;
        }
        pathTimers_.erase(path);
        // A path copied since keeps its "Copied".
        if (path_ == path) {
            path_.reset();
            expired_();
        }
    });
}

} // namespace meterly::ui
