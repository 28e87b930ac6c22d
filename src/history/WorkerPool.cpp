#include "history/WorkerPool.hpp"

#include <utility>

namespace meterly::history {

WorkerPool::WorkerPool(std::size_t workers) {
    for (std::size_t worker = 1; worker < workers; ++worker) {
        threads_.emplace_back([this, worker] { loop(worker); });
    }
}

WorkerPool::~WorkerPool() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) {
        thread.join();
    }
}

void WorkerPool::run(std::size_t count, const Task& task) {
    if (threads_.empty() || count <= 1) {
        for (std::size_t index = 0; index < count; ++index) {
            task(index, 0);
        }
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        task_ = &task;
        count_ = count;
        next_ = 0;
        busy_ = threads_.size();
        failure_ = nullptr;
        ++generation_;
    }
    wake_.notify_all();
    work(0);
    std::exception_ptr failure;
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return busy_ == 0; });
        task_ = nullptr;
        failure = std::exchange(failure_, nullptr);
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void WorkerPool::loop(std::size_t worker) {
    std::size_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) {
                return;
            }
            seen = generation_;
        }
        work(worker);
        const std::lock_guard lock(mutex_);
        if (--busy_ == 0) {
            done_.notify_one();
        }
    }
}

void WorkerPool::work(std::size_t worker) {
    for (;;) {
        std::size_t index = 0;
        const Task* task = nullptr;
        {
            const std::lock_guard lock(mutex_);
            if (next_ >= count_ || failure_) {
                return;
            }
            index = next_++;
            task = task_;
        }
        try {
            (*task)(index, worker);
        } catch (...) {
            const std::lock_guard lock(mutex_);
            if (!failure_) {
                failure_ = std::current_exception();
            }
        }
    }
}

} // namespace meterly::history
