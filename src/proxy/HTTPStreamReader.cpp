#include "proxy/HTTPStreamReader.hpp"

#include "proxy/HTTPHeadParser.hpp"
#include "proxy/ProxyError.hpp"

#include <algorithm>

namespace meterly::proxy {

HTTPStreamReader::HTTPStreamReader(std::shared_ptr<ByteSource> source, ProxyDuration timeout,
                                   Now now)
    : source_(std::move(source)), timeout_(timeout), now_(std::move(now)) {}

asio::awaitable<bool> HTTPStreamReader::fill(std::optional<ProxyDuration> limit) {
    if (reachedEOF_) {
        co_return false;
    }
    const ProxyDuration wait = limit.value_or(timeout_);
    while (true) {
        std::optional<Bytes> received = co_await source_->receiveWithin(wait);
        if (!received) {
            reachedEOF_ = true;
            co_return false;
        }
        if (received->empty()) {
            // Neither data nor the end: ask again, with the whole limit again.
            continue;
        }
        if (start_ == buffer_.size()) {
            // Nothing is buffered: the received bytes become the buffer without a copy.
            buffer_ = std::move(*received);
            start_ = 0;
            co_return true;
        }
        if (start_ > 0 && start_ >= buffer_.size() / 2) {
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
            start_ = 0;
        }
        buffer_.insert(buffer_.end(), received->begin(), received->end());
        co_return true;
    }
}

Bytes HTTPStreamReader::take(std::size_t count) {
    if (start_ == 0 && count == buffer_.size()) {
        // All that is buffered goes out: hand over the buffer itself.
        Bytes taken = std::move(buffer_);
        buffer_.clear();
        return taken;
    }
    const ByteView front = buffered().first(count);
    Bytes taken(front.begin(), front.end());
    start_ += count;
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    return taken;
}

asio::awaitable<Bytes> HTTPStreamReader::readHead(std::size_t maximumSize,
                                                  std::optional<ProxyDuration> completionTimeout) {
    using Instant = std::chrono::steady_clock::time_point;
    // The deadline runs from the call for bytes already buffered, else from the first bytes.
    std::optional<Instant> startedAt;
    if (bufferedCount() > 0) {
        startedAt = now_();
    }
    std::size_t searchFrom = 0;
    while (true) {
        if (bufferedCount() >= 2) {
            const auto end =
                HTTPHeadParser::endOfHead(buffered(), static_cast<std::ptrdiff_t>(searchFrom));
            if (end) {
                if (*end > maximumSize) {
                    throw ProxyError::headTooLarge();
                }
                co_return take(*end);
            }
        }
        if (bufferedCount() > maximumSize) {
            throw ProxyError::headTooLarge();
        }
        const std::size_t previousCount = bufferedCount();

        std::optional<ProxyDuration> limit;
        if (completionTimeout && startedAt) {
            const ProxyDuration left = *completionTimeout - (now_() - *startedAt);
            if (left <= ProxyDuration::zero()) {
                throw ProxyError::timedOut();
            }
            limit = left;
        }
        const bool filled = co_await fill(limit);
        if (!filled) {
            if (bufferedCount() > 0) {
                throw ProxyError::malformedHead();
            }
            throw ProxyError::peerClosed();
        }
        if (!startedAt) {
            startedAt = now_();
        }
        // A terminator split across two receives is found without searching everything again.
        searchFrom = previousCount >= 3 ? previousCount - 3 : 0;
    }
}

asio::awaitable<std::optional<Bytes>> HTTPStreamReader::nextBodyBytes(std::size_t limit) {
    if (bufferedCount() == 0) {
        const bool filled = co_await fill(std::nullopt);
        if (!filled) {
            co_return std::nullopt;
        }
    }
    co_return take(std::min(bufferedCount(), limit));
}

void HTTPStreamReader::pushBack(ByteView bytes) {
    if (bytes.empty()) {
        return;
    }
    if (start_ >= bytes.size()) {
        start_ -= bytes.size();
        std::copy(bytes.begin(), bytes.end(),
                  buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        return;
    }
    Bytes joined;
    joined.reserve(bytes.size() + bufferedCount());
    joined.insert(joined.end(), bytes.begin(), bytes.end());
    const ByteView rest = buffered();
    joined.insert(joined.end(), rest.begin(), rest.end());
    buffer_ = std::move(joined);
    start_ = 0;
}

} // namespace meterly::proxy
