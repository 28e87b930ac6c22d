#pragma once

#include "core/Time.hpp"
#include "state/MainExecutor.hpp"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace meterly::ui {

// Which copy buttons say "Copied", and until when: the diagnostics summary, and the path copied
// last, each for `copiedFor` seconds after its last press on the executor's clock. `expired` is
// called when a mark goes on its own.
class CopiedMarks {
public:
    static constexpr core::Seconds copiedFor = 2;

    CopiedMarks(state::MainExecutor& main, std::function<void()> expired);
    ~CopiedMarks();
    CopiedMarks(const CopiedMarks&) = delete;
    CopiedMarks& operator=(const CopiedMarks&) = delete;

    void copiedSummary();
    void copiedPath(const std::string& path);

    bool summary() const { return summary_; }
    const std::optional<std::string>& path() const { return path_; }
    // The timers waiting: at most one per path and one for the summary.
    std::size_t pendingTimers() const { return pathTimers_.size() + (summaryTimer_ ? 1 : 0); }

private:
    state::MainExecutor& main_;
    std::function<void()> expired_;
    bool summary_ = false;
    std::optional<std::string> path_;
    std::optional<state::MainExecutor::TimerID> summaryTimer_;
    std::map<std::string, state::MainExecutor::TimerID> pathTimers_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace meterly::ui
