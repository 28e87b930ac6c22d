#pragma once

#include "state/MainExecutor.hpp"
#include "state/Worker.hpp"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace meterly::state {

// One background thread for blocking work. Jobs run one at a time in the order given; each job's
// outcome is posted back to the main executor, where its continuation runs. Destroying the worker
// waits for the job that is running, drops the ones not yet started, and no continuation runs after
// that.
class BlockingWorker final : public Worker {
public:
    explicit BlockingWorker(MainExecutor& main);
    ~BlockingWorker() override;
    BlockingWorker(const BlockingWorker&) = delete;
    BlockingWorker& operator=(const BlockingWorker&) = delete;

    // Jobs given and not yet finished (the running one included).
    std::size_t pending() const;

private:
    void submit(Job job) override;
    void loop();

    MainExecutor& main_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool running_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace meterly::state
