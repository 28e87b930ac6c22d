#include "proxy/ProxyUsageSource.hpp"

#include "core/RateLimitHeaderParser.hpp"
#include "core/StreamForwarding.hpp"
#include "proxy/HeaderText.hpp"
#include "proxy/ProxyLog.hpp"

#include <map>
#include <mutex>
#include <vector>

namespace meterly::proxy {

using core::AsyncStream;
using core::Date;
using core::RateLimitHeaderParser;
using core::StreamBuffering;
using core::StreamTermination;
using core::UsageSnapshot;
using core::UsageSourceEvent;

namespace {
constexpr std::size_t snapshotBufferSize = 8;

// A header value as text: kept when its bytes are UTF-8 (plain ASCII, as these values are in
// practice, included), otherwise read byte by byte as Latin-1, as HTTP reads field values.
void decodeHeaderText(std::string& value) {
    if (text::isASCII(value)) {
        return;
    }
    const ByteView bytes(reinterpret_cast<const std::uint8_t*>(value.data()), value.size());
    if (!text::isValidUTF8(bytes)) {
        value = text::latin1ToUTF8(bytes);
    }
}

// The snapshot's texts as text; the relayed response keeps its bytes as they came.
void decodeTexts(UsageSnapshot& snapshot) {
    for (auto* window : {&snapshot.fiveHour, &snapshot.sevenDay}) {
        if (*window) {
            decodeHeaderText((*window)->status);
        }
    }
    for (auto* value : {&snapshot.representativeClaim, &snapshot.overageStatus}) {
        if (*value) {
            decodeHeaderText(**value);
        }
    }
}
} // namespace

// The state that termination handlers and event tasks reach weakly, so that they never keep the
// source alive.
struct ProxyUsageSource::Shared {
    using Producer = AsyncStream<UsageSnapshot>::Continuation;

    mutable std::mutex mutex;
    std::optional<UsageSnapshot> latest;
    std::int64_t requestsSeen = 0;
    std::optional<Date> lastRequestAt;
    std::uint64_t nextSubscriber = 0;
    std::map<std::uint64_t, Producer> subscribers;

    // The producers of the current subscribers; the caller holds the lock.
    std::vector<Producer> producers() const {
        std::vector<Producer> copied;
        copied.reserve(subscribers.size());
        for (const auto& [id, producer] : subscribers) {
            copied.push_back(producer);
        }
        return copied;
    }

    ProxyUsageState state() const {
        std::lock_guard lock(mutex);
        return {latest, requestsSeen, lastRequestAt};
    }

    static AsyncStream<UsageSnapshot> subscribe(const std::shared_ptr<Shared>& shared) {
        auto [stream, producer] =
            AsyncStream<UsageSnapshot>::make(StreamBuffering::newest(snapshotBufferSize));
        std::uint64_t id = 0;
        std::optional<UsageSnapshot> current;
        {
            std::lock_guard lock(shared->mutex);
            id = shared->nextSubscriber++;
            shared->subscribers.emplace(id, producer);
            current = shared->latest;
        }
        if (current) {
            producer.yield(std::move(*current));
        }
        std::weak_ptr<Shared> weak = shared;
        producer.setOnTermination([weak, id](StreamTermination) {
            auto source = weak.lock();
            if (!source) {
                return;
            }
            std::optional<Producer> removed; // released after the lock
            std::lock_guard lock(source->mutex);
            if (auto it = source->subscribers.find(id); it != source->subscribers.end()) {
                removed.emplace(std::move(it->second));
                source->subscribers.erase(it);
            }
        });
        return std::move(stream);
    }
};

ProxyUsageSource::ProxyUsageSource(std::optional<UsageSnapshot> initial)
    : shared_(std::make_shared<Shared>()) {
    shared_->latest = std::move(initial);
}

ProxyUsageSource::~ProxyUsageSource() {
    finish();
}

std::optional<UsageSnapshot> ProxyUsageSource::latest() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->latest;
}

std::int64_t ProxyUsageSource::requestsSeen() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->requestsSeen;
}

std::optional<Date> ProxyUsageSource::lastRequestAt() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->lastRequestAt;
}

ProxyUsageState ProxyUsageSource::state() const {
    return shared_->state();
}

std::optional<UsageSnapshot> ProxyUsageSource::ingest(const HTTPHeaders& responseHeaders,
                                                      Date capturedAt) {
    // The rate-limit fields are picked out where they stand: nothing of the head is copied.
    RateLimitHeaderParser::Fields fields{};
    for (const auto& field : responseHeaders.fields()) {
        const auto known = field.known();
        if (known.kind() == KnownHeaderName::Kind::rateLimit) {
            // Of two spellings of one field the later wins.
            fields[static_cast<std::size_t>(known.rateLimitField())] = field.value();
        }
    }
    return record(RateLimitHeaderParser::parse(fields, capturedAt), capturedAt);
}

std::optional<UsageSnapshot> ProxyUsageSource::record(std::optional<UsageSnapshot> parsed,
                                                      Date capturedAt) {
    if (parsed) {
        decodeTexts(*parsed);
    }
    std::vector<Shared::Producer> producers;
    {
        // The count, the time and the reading change together, so that the status reply never
        // pairs the time of one response with the reading of another. Of responses read at
        // once, the one that comes here last is the latest, whatever the clock said: a clock
        // set back must not hold new readings off until it has caught up again.
        std::lock_guard lock(shared_->mutex);
        ++shared_->requestsSeen;
        shared_->lastRequestAt = capturedAt;
        if (!parsed) {
            return std::nullopt;
        }
        shared_->latest = *parsed;
        producers = shared_->producers();
    }
    deliver(producers, *parsed);
    return parsed;
}

void ProxyUsageSource::publish(const UsageSnapshot& snapshot) {
    std::vector<Shared::Producer> producers;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->latest = snapshot;
        producers = shared_->producers();
    }
    deliver(producers, snapshot);
}

void ProxyUsageSource::deliver(const std::vector<Shared::Producer>& producers,
                               const UsageSnapshot& snapshot) {
    for (const auto& producer : producers) {
        producer.yield(snapshot);
    }
    ProxyLog::emit(ProxyLogEvent::snapshotPublished());
}

void ProxyUsageSource::finish() {
    std::map<std::uint64_t, Shared::Producer> ended;
    {
        std::lock_guard lock(shared_->mutex);
        ended.swap(shared_->subscribers);
    }
    // Finishing runs each stream's termination handler, which takes the lock itself.
    for (const auto& [id, producer] : ended) {
        producer.finish();
    }
}

std::size_t ProxyUsageSource::subscriberCount() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->subscribers.size();
}

AsyncStream<UsageSnapshot> ProxyUsageSource::snapshots() {
    return Shared::subscribe(shared_);
}

AsyncStream<UsageSourceEvent> ProxyUsageSource::events() {
    using Continuation = AsyncStream<UsageSourceEvent>::Continuation;
    std::weak_ptr<Shared> weak = shared_;
    return core::forwardStream<UsageSourceEvent>(
        Shared::subscribe(shared_),
        [weak](const Continuation& out) {
            if (auto source = weak.lock()) {
                auto now = source->state();
                source.reset();
                out.yield(UsageSourceEvent::status(std::move(now.latest), now.requestsSeen,
                                                   now.lastRequestAt));
            }
        },
        [weak](UsageSnapshot& snapshot, const Continuation& out) {
            auto source = weak.lock();
            if (!source) {
                return false;
            }
            auto now = source->state();
            source.reset();
            out.yield(
                UsageSourceEvent::status(std::move(snapshot), now.requestsSeen, now.lastRequestAt));
            return true;
        });
}

} // namespace meterly::proxy
