#include "state/SourceListener.hpp"

#include "core/Task.hpp"

#include <condition_variable>
#include <mutex>
#include <optional>

namespace meterly::state {

struct SourceListener::Shared {
    MainExecutor& main;
    // Touched on the main executor only.
    Handler handler;

    std::mutex mutex;
    std::condition_variable changed;
    bool cancelled = false;
    bool passDone = true;
    std::function<void()> cancelStream;

    Shared(MainExecutor& executor, Handler h) : main(executor), handler(std::move(h)) {}

    void endPass() {
        {
            std::lock_guard lock(mutex);
            passDone = true;
        }
        changed.notify_all();
    }
};

SourceListener::SourceListener(MainExecutor& main, std::shared_ptr<core::UsageSource> source,
                               Handler handler)
    : shared_(std::make_shared<Shared>(main, std::move(handler))) {
    auto stream = std::make_shared<core::AsyncStream<core::UsageSourceEvent>>(source->events());
    shared_->cancelStream = stream->canceller();
    core::startTask([shared = shared_, stream, source](const core::CancellationToken&) {
        while (true) {
            auto event = stream->next();
            std::unique_lock lock(shared->mutex);
            if (!event || shared->cancelled) {
                break;
            }
            shared->passDone = false;
            // Posted under the lock, so that nothing is posted once cancel() has returned.
            shared->main.post([shared, event = std::move(*event)] {
                {
                    std::lock_guard guard(shared->mutex);
                    if (shared->cancelled) {
                        return;
                    }
                }
                // A copy, so that the handler may cancel this listener while it runs.
                auto handle = shared->handler;
                handle(event);
                shared->endPass();
            });
            shared->changed.wait(lock, [&] { return shared->passDone || shared->cancelled; });
            if (shared->cancelled) {
                break;
            }
        }
        stream->cancel();
    });
}

SourceListener::~SourceListener() {
    cancel();
}

void SourceListener::cancel() {
    std::function<void()> cancelStream;
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->cancelled) {
            return;
        }
        shared_->cancelled = true;
        cancelStream = shared_->cancelStream;
    }
    shared_->changed.notify_all();
    if (cancelStream) {
        cancelStream();
    }
    // The handler belongs to the main executor, where cancel() runs; a pass already running holds
    // a copy of it.
    shared_->handler = {};
}

} // namespace meterly::state
