#pragma once

#include "state/MainExecutor.hpp"
#include "state/Outcome.hpp"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

namespace meterly::state {

// One background thread for blocking work (files, child processes, the network). Jobs run one at
// a time in the order given; each job's outcome is posted back to the main executor, where its
// continuation runs. Destroying the worker waits for the job that is running, drops the ones not
// yet started, and no continuation runs after that.
class BlockingWorker {
public:
    explicit BlockingWorker(MainExecutor& main);
    ~BlockingWorker();
    BlockingWorker(const BlockingWorker&) = delete;
    BlockingWorker& operator=(const BlockingWorker&) = delete;

    // Runs `work()` on the worker, then `done(Outcome<R>)` on the main executor, where R is what
    // work returns (work that returns nothing gives an Outcome<bool> holding true).
    template <typename Work, typename Done>
    void run(Work work, Done done) {
        using R = std::invoke_result_t<Work&>;
        using Value = std::conditional_t<std::is_void_v<R>, bool, R>;
        submit([work = std::move(work), done = std::move(done)]() mutable -> std::function<void()> {
            auto outcome = [&]() -> Outcome<Value> {
                try {
                    if constexpr (std::is_void_v<R>) {
                        work();
                        return Outcome<Value>::success(true);
                    } else {
                        return Outcome<Value>::success(work());
                    }
                } catch (...) {
                    return Outcome<Value>::failure(std::current_exception());
                }
            }();
            return [done = std::move(done), outcome = std::move(outcome)]() mutable {
                done(std::move(outcome));
            };
        });
    }

    // Jobs given and not yet finished (the running one included).
    std::size_t pending() const;

private:
    using Job = std::function<std::function<void()>()>;
    void submit(Job job);
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
