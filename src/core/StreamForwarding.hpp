#pragma once

#include "core/AsyncStream.hpp"
#include "core/Task.hpp"

#include <memory>
#include <utility>

namespace meterly::core {

// Makes a stream of Out from a stream of In. A background task becomes the source's only
// consumer: it runs `start(continuation)` once, then hands every element of the source to
// `forward(element, continuation)`, which may yield on the continuation and returns false to stop.
// The task ends when the source ends, when `forward` says stop or when the consumer of the new
// stream stops; either way the source is cancelled and the new stream finished.
template <typename Out, typename In, typename Start, typename Forward>
AsyncStream<Out> forwardStream(AsyncStream<In> source, Start start, Forward forward) {
    auto stopSource = source.canceller();
    auto inner = std::make_shared<AsyncStream<In>>(std::move(source));
    auto [stream, continuation] = AsyncStream<Out>::make(StreamBuffering::unbounded());
    auto task = startTask([inner, continuation = continuation, start = std::move(start),
                           forward = std::move(forward)](const CancellationToken& token) mutable {
        start(continuation);
        while (!token.isCancelled()) {
            auto element = inner->next();
            if (!element || !forward(*element, continuation)) {
                break;
            }
        }
        inner->cancel();
        continuation.finish();
    });
    // When the consumer stops, the task stops consuming the source.
    continuation.setOnTermination([task, stopSource](StreamTermination) {
        task->cancel();
        stopSource();
    });
    return std::move(stream);
}

template <typename Out, typename In, typename Forward>
AsyncStream<Out> forwardStream(AsyncStream<In> source, Forward forward) {
    return forwardStream<Out>(
        std::move(source), [](const typename AsyncStream<Out>::Continuation&) {},
        std::move(forward));
}

} // namespace meterly::core
