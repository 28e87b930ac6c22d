#pragma once

#include "state/MainExecutor.hpp"
#include "state/Worker.hpp"

#include <memory>

namespace meterly::testing {

// A worker for tests on a virtual-time executor: each job runs as a job of the main executor,
// and its continuation is posted after it, as a worker thread's result would be. Nothing runs
// until the test runs the executor.
class InlineWorker final : public state::Worker {
public:
    explicit InlineWorker(state::MainExecutor& main) : main_(main) {}
    ~InlineWorker() override { *alive_ = false; }
    InlineWorker(const InlineWorker&) = delete;
    InlineWorker& operator=(const InlineWorker&) = delete;

private:
    void submit(Job job) override {
        main_.post([&main = main_, alive = alive_, job = std::move(job)] {
            if (!*alive) {
                return;
            }
            main.post([alive, continuation = job()] {
                if (*alive) {
                    continuation();
                }
            });
        });
    }

    state::MainExecutor& main_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace meterly::testing
