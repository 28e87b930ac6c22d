#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace meterly::core {

// What a stream keeps of the values yielded while its consumer is not waiting.
struct StreamBuffering {
    // Every value is kept.
    static StreamBuffering unbounded() { return {}; }
    // At most `n` values are kept; the oldest is dropped to make room for a new one.
    static StreamBuffering newest(std::size_t n) { return StreamBuffering{n}; }

    std::optional<std::size_t> limit;
};

// What became of one yielded value.
enum class YieldResult {
    enqueued,   // kept for the consumer
    dropped,    // kept, but an older value (or, with room for none, this one) was dropped
    terminated, // the stream had already ended; the value went nowhere
};

// Why a stream ended, as its termination handler learns it.
enum class StreamTermination {
    finished,  // the producer finished it
    cancelled, // the consumer stopped consuming (cancelled or dropped its handle)
};

namespace detail {

template <typename T>
struct StreamState {
    explicit StreamState(StreamBuffering policy) : buffering(policy) {}

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<T> buffer;
    StreamBuffering buffering;
    bool finished = false;
    bool cancelled = false;
    bool consumerWaiting = false;
    std::optional<StreamTermination> termination;
    std::function<void(StreamTermination)> onTermination;

    // Marks the stream ended for `reason` and hands back the handler to run, if it has not run.
    // Called with the mutex held; the caller runs the handler after releasing it.
    std::function<void(StreamTermination)> terminate(StreamTermination reason) {
        if (termination) {
            return {};
        }
        termination = reason;
        return std::exchange(onTermination, {});
    }

    void cancel() {
        std::function<void(StreamTermination)> handler;
        std::deque<T> discarded;
        {
            std::lock_guard lock(mutex);
            if (cancelled) {
                return;
            }
            cancelled = true;
            discarded.swap(buffer);
            handler = terminate(StreamTermination::cancelled);
        }
        changed.notify_all();
        if (handler) {
            handler(StreamTermination::cancelled);
        }
    }

    void finish() {
        std::function<void(StreamTermination)> handler;
        {
            std::lock_guard lock(mutex);
            if (finished) {
                return;
            }
            finished = true;
            handler = terminate(StreamTermination::finished);
        }
        changed.notify_all();
        if (handler) {
            handler(StreamTermination::finished);
        }
    }
};

// The producer side that all copies of one continuation share; the last copy to go away
// finishes the stream, so that a consumer never waits for a producer that no longer exists.
template <typename T>
struct StreamProducer {
    explicit StreamProducer(std::shared_ptr<StreamState<T>> s) : state(std::move(s)) {}
    ~StreamProducer() { state->finish(); }
    StreamProducer(const StreamProducer&) = delete;
    StreamProducer& operator=(const StreamProducer&) = delete;

    std::shared_ptr<StreamState<T>> state;
};

} // namespace detail

template <typename T>
class AsyncStream;

// The producer side of an AsyncStream. Copies share one stream; every operation may be called
// from any thread.
template <typename T>
class StreamContinuation {
public:
    // Hands a value to the consumer, subject to the buffering policy. No effect after the end.
    YieldResult yield(T value) const {
        auto& state = *producer_->state;
        std::optional<T> discarded; // destroyed after the lock is released
        YieldResult result = YieldResult::enqueued;
        {
            std::lock_guard lock(state.mutex);
            if (state.finished || state.cancelled) {
                discarded.emplace(std::move(value));
                return YieldResult::terminated;
            }
            if (state.consumerWaiting && state.buffer.empty()) {
                // A waiting consumer takes the value whatever the policy keeps.
                state.consumerWaiting = false;
                state.buffer.push_back(std::move(value));
            } else if (state.buffering.limit && state.buffer.size() >= *state.buffering.limit) {
                result = YieldResult::dropped;
                if (*state.buffering.limit == 0) {
                    discarded.emplace(std::move(value));
                    return result;
                }
                discarded.emplace(std::move(state.buffer.front()));
                state.buffer.pop_front();
                state.buffer.push_back(std::move(value));
            } else {
                state.buffer.push_back(std::move(value));
            }
        }
        state.changed.notify_all();
        return result;
    }

    // Ends the stream: the consumer sees the end once it has taken what is buffered. The
    // termination handler runs at once, on this thread.
    void finish() const { producer_->state->finish(); }

    // Sets the handler that runs once when the stream ends, either way. When the stream has
    // already ended, the handler runs at once, on this thread.
    void setOnTermination(std::function<void(StreamTermination)> handler) const {
        auto& state = *producer_->state;
        std::optional<StreamTermination> ended;
        {
            std::lock_guard lock(state.mutex);
            if (!state.termination) {
                state.onTermination = std::move(handler);
                return;
            }
            ended = state.termination;
        }
        if (handler) {
            handler(*ended);
        }
    }

    // True once the stream was finished or its consumer stopped.
    bool isTerminated() const {
        std::lock_guard lock(producer_->state->mutex);
        return producer_->state->termination.has_value();
    }

private:
    friend class AsyncStream<T>;
    explicit StreamContinuation(std::shared_ptr<detail::StreamState<T>> state)
        : producer_(std::make_shared<detail::StreamProducer<T>>(std::move(state))) {}

    std::shared_ptr<detail::StreamProducer<T>> producer_;
};

// The consumer side of a single-consumer stream of values handed over between threads. The
// handle is move-only; destroying it, or calling cancel(), stops the consumption: buffered values
// are dropped, later yields go nowhere and the termination handler runs.
template <typename T>
class AsyncStream {
public:
    using Continuation = StreamContinuation<T>;

    // A new stream and its producer side.
    static std::pair<AsyncStream, Continuation>
    make(StreamBuffering buffering = StreamBuffering::unbounded()) {
        auto state = std::make_shared<detail::StreamState<T>>(buffering);
        return {AsyncStream(state), Continuation(state)};
    }

    AsyncStream(AsyncStream&& other) noexcept = default;
    AsyncStream& operator=(AsyncStream&& other) noexcept {
        if (this != &other) {
            cancel();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    AsyncStream(const AsyncStream&) = delete;
    AsyncStream& operator=(const AsyncStream&) = delete;
    ~AsyncStream() { cancel(); }

    // The next value, waiting as long as it takes; nullopt at the end (finished and drained, or
    // cancelled).
    std::optional<T> next() { return nextUntil(std::nullopt); }

    // As next(), but gives up after `timeout` and then returns nullopt too; isEnded() tells the
    // two apart.
    template <typename Rep, typename Period>
    std::optional<T> next(std::chrono::duration<Rep, Period> timeout) {
        return nextUntil(std::chrono::steady_clock::now() +
                         std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout));
    }

    // True when next() would return nullopt at once because the stream is over.
    bool isEnded() const {
        if (!state_) {
            return true;
        }
        std::lock_guard lock(state_->mutex);
        return state_->cancelled || (state_->finished && state_->buffer.empty());
    }

    // Stops consuming. Safe to call from another thread while next() waits, which then returns
    // nullopt.
    void cancel() {
        if (state_) {
            state_->cancel();
        }
    }

    // A function that cancels this stream from anywhere, also after the handle has moved; it
    // does nothing once the stream is gone.
    std::function<void()> canceller() const {
        std::weak_ptr<detail::StreamState<T>> weak = state_;
        return [weak] {
            if (auto state = weak.lock()) {
                state->cancel();
            }
        };
    }

private:
    explicit AsyncStream(std::shared_ptr<detail::StreamState<T>> state)
        : state_(std::move(state)) {}

    std::optional<T> nextUntil(std::optional<std::chrono::steady_clock::time_point> deadline) {
        if (!state_) {
            return std::nullopt;
        }
        auto& state = *state_;
        std::unique_lock lock(state.mutex);
        auto ready = [&] { return state.cancelled || !state.buffer.empty() || state.finished; };
        while (!ready()) {
            state.consumerWaiting = true;
            if (!deadline) {
                state.changed.wait(lock);
            } else if (state.changed.wait_until(lock, *deadline) == std::cv_status::timeout &&
                       !ready()) {
                state.consumerWaiting = false;
                return std::nullopt;
            }
        }
        state.consumerWaiting = false;
        if (state.cancelled || state.buffer.empty()) {
            return std::nullopt;
        }
        std::optional<T> value(std::move(state.buffer.front()));
        state.buffer.pop_front();
        return value;
    }

    std::shared_ptr<detail::StreamState<T>> state_;
};

} // namespace meterly::core
