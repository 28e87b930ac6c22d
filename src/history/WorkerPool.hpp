#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace meterly::history {

// A few threads that run the tasks of one batch at a time. The thread that calls run() works on
// the batch too, as worker 0, and run() returns when every task has finished.
class WorkerPool {
public:
    using Task = std::function<void(std::size_t index, std::size_t worker)>;

    // `workers` counts the calling thread; 1 (or 0) runs everything on the caller.
    explicit WorkerPool(std::size_t workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    std::size_t size() const { return threads_.size() + 1; }

    // Calls task(index, worker) once for every index below `count`, spread over the workers;
    // `worker` is below size() and no two calls with the same worker overlap. The first
    // exception a task throws is thrown again here, after the batch has ended.
    void run(std::size_t count, const Task& task);

private:
    void loop(std::size_t worker);
    void work(std::size_t worker);

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const Task* task_ = nullptr;
    std::size_t count_ = 0;
    std::size_t next_ = 0;
    std::size_t busy_ = 0;
    std::size_t generation_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_;
};

} // namespace meterly::history
