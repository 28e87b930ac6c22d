#pragma once

#include "state/Outcome.hpp"

#include <functional>
#include <type_traits>

namespace meterly::state {

// Where blocking work goes (files, child processes, the network): off the main executor, with
// each outcome handed back to the main executor, where its continuation runs.
class Worker {
public:
    virtual ~Worker() = default;

    // Runs `work()` off the main executor, then `done(Outcome<R>)` on it, where R is what work
    // returns (work that returns nothing gives an Outcome<bool> holding true).
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

protected:
    // Does the work and returns the continuation, which the worker posts to the main executor.
    using Job = std::function<std::function<void()>()>;
    virtual void submit(Job job) = 0;
};

} // namespace meterly::state
