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

std::optional<UsageSnapshot>
ProxyUsageSource::ingest(const HTTPHeaders::Dictionary& responseHeaders, Date capturedAt) {
    count(capturedAt);
    return publishParsed(core::RateLimitHeaderParser::parse(responseHeaders, capturedAt));
}

std::optional<UsageSnapshot> ProxyUsageSource::ingest(const HTTPHeaders& responseHeaders,
                                                      Date capturedAt) {
    count(capturedAt);
    // The rate-limit fields are picked out where they stand: nothing of the head is copied.
    RateLimitHeaderParser::Fields fields{};
    for (const auto& field : responseHeaders.fields()) {
        const auto known = field.known();
        if (known.kind() == KnownHeaderName::Kind::rateLimit) {
            // Of two spellings of one field the later wins.
            fields[static_cast<std::size_t>(known.rateLimitField())] = field.value();
        }
    }
    return publishParsed(RateLimitHeaderParser::parse(fields, capturedAt));
}

void ProxyUsageSource::count(Date capturedAt) {
    std::lock_guard lock(shared_->mutex);
    ++shared_->requestsSeen;
    // Responses finish in any order; the time of the last one only moves forward.
    if (!shared_->lastRequestAt || !(capturedAt < *shared_->lastRequestAt)) {
        shared_->lastRequestAt = capturedAt;
    }
}

std::optional<UsageSnapshot> ProxyUsageSource::publishParsed(std::optional<UsageSnapshot> parsed) {
    if (!parsed || !publish(*parsed)) {
        return std::nullopt;
    }
    return parsed;
}

bool ProxyUsageSource::isRateLimitName(std::string_view name) {
    static constexpr std::string_view prefix = "anthropic-ratelimit-unified-";
    if (!name.empty() && name.front() != 'a' && name.front() != 'A' &&
        static_cast<unsigned char>(name.front()) < 0x80) {
        // No other ASCII character lower-cases to "a": the usual fields end here.
        return false;
    }
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            // Other characters may lower-case to ASCII letters: compare the full lower-case form.
            return text::lowercased(name).starts_with(prefix);
        }
    }
    return name.size() >= prefix.size() && text::namesMatch(name.substr(0, prefix.size()), prefix);
}

bool ProxyUsageSource::publish(const UsageSnapshot& snapshot) {
    std::vector<Shared::Producer> producers;
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->latest && snapshot.capturedAt < shared_->latest->capturedAt) {
            return false;
        }
        shared_->latest = snapshot;
        producers.reserve(shared_->subscribers.size());
        for (const auto& [id, producer] : shared_->subscribers) {
            producers.push_back(producer);
        }
    }
    for (const auto& producer : producers) {
        producer.yield(snapshot);
    }
    ProxyLog::emit(ProxyLogEvent::snapshotPublished());
    return true;
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
