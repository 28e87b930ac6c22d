#pragma once

#include "core/UsageSource.hpp"
#include "core/UsageSourceEvent.hpp"
#include "state/MainExecutor.hpp"

#include <functional>
#include <memory>

namespace meterly::state {

// Follows a usage source's events: a thread of its own waits for each event and hands it to the
// main executor; the next event is taken only after the handler has returned, so events are
// handled one at a time and in order. The listener holds the source until it ends.
class SourceListener {
public:
    using Handler = std::function<void(const core::UsageSourceEvent&)>;

    // Starts consuming `source->events()` at once. The handler runs on `main` only.
    SourceListener(MainExecutor& main, std::shared_ptr<core::UsageSource> source, Handler handler);
    // Cancels.
    ~SourceListener();
    SourceListener(const SourceListener&) = delete;
    SourceListener& operator=(const SourceListener&) = delete;

    // Ends the listening, on the main executor: an event handed over but not yet being handled is
    // dropped, a pass already running finishes, and the stream of events is cancelled. Once this
    // returns, nothing more is posted to `main`.
    void cancel();

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

} // namespace meterly::state
