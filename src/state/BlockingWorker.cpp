#include "state/BlockingWorker.hpp"

namespace meterly::state {

BlockingWorker::BlockingWorker(MainExecutor& main) : main_(main), thread_([this] { loop(); }) {}

BlockingWorker::~BlockingWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    thread_.join();
    // Continuations already posted find the worker gone and do nothing. The destructor runs on
    // the main executor, as the continuations do, so the flag needs no lock.
    *alive_ = false;
}

void BlockingWorker::submit(Job job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

std::size_t BlockingWorker::pending() const {
    std::lock_guard lock(mutex_);
    return jobs_.size() + (running_ ? 1 : 0);
}

void BlockingWorker::loop() {
    while (true) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
            running_ = true;
        }
        auto continuation = job();
        main_.post([alive = alive_, continuation = std::move(continuation)] {
            if (*alive) {
                continuation();
            }
        });
        std::lock_guard lock(mutex_);
        running_ = false;
    }
}

} // namespace meterly::state
