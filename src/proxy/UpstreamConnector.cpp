#include "proxy/UpstreamConnector.hpp"

#include <algorithm>
#include <asio/any_io_executor.hpp>
#include <asio/error.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <utility>

namespace meterly::proxy {

namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// The attempts of one connect, shared with their completion handlers, which may run after the
// waiting coroutine has gone. Everything runs on the one executor of the sockets.
class AttemptRace : public std::enable_shared_from_this<AttemptRace> {
public:
    AttemptRace(asio::any_io_executor executor, std::vector<tcp::endpoint> addresses)
        : executor_(std::move(executor)), addresses_(std::move(addresses)), wake_(executor_) {}

    bool canStartMore() const { return attempts_.size() < addresses_.size(); }
    bool anyRunning() const { return running_ > 0; }
    // Failures not yet answered by a new attempt.
    bool owesAttempt() const { return owedAttempts_ > 0; }
    Clock::time_point lastStart() const { return lastStart_; }
    const std::error_code& lastError() const { return lastError_; }
    asio::steady_timer& wake() { return wake_; }

    void startNext() {
        const std::size_t index = attempts_.size();
        attempts_.push_back(std::make_unique<tcp::socket>(executor_));
        ++running_;
        if (owedAttempts_ > 0) {
            --owedAttempts_;
        }
        lastStart_ = Clock::now();
        attempts_[index]->async_connect(
            addresses_[index], [self = shared_from_this(), index](const std::error_code& error) {
                self->finished(index, error);
            });
    }

    // The connected socket of the first attempt that connected, if one has.
    std::optional<tcp::socket> takeWinner() {
        if (!winner_) {
            return std::nullopt;
        }
        return std::move(*attempts_[*winner_]);
    }

    // Closes every attempt but the winner; their handlers then find the race over.
    void end() {
        over_ = true;
        for (std::size_t index = 0; index < attempts_.size(); ++index) {
            if (index != winner_) {
                std::error_code ignored;
                attempts_[index]->close(ignored);
            }
        }
        wake_.cancel();
    }

private:
    void finished(std::size_t index, const std::error_code& error) {
        --running_;
        if (over_) {
            return;
        }
        if (!error) {
            if (!winner_) {
                winner_ = index;
            }
        } else {
            lastError_ = error;
            ++owedAttempts_;
        }
        wake_.cancel();
    }

    asio::any_io_executor executor_;
    std::vector<tcp::endpoint> addresses_;
    std::vector<std::unique_ptr<tcp::socket>> attempts_;
    asio::steady_timer wake_;
    std::size_t running_ = 0;
    std::size_t owedAttempts_ = 0;
    std::optional<std::size_t> winner_;
    std::error_code lastError_;
    Clock::time_point lastStart_;
    bool over_ = false;
};

struct EndOfRace {
    std::shared_ptr<AttemptRace> race;
    ~EndOfRace() { race->end(); }
};

} // namespace

std::vector<tcp::endpoint>
UpstreamConnector::attemptOrder(const std::vector<tcp::endpoint>& addresses) {
    std::vector<tcp::endpoint> version6;
    std::vector<tcp::endpoint> version4;
    for (const auto& address : addresses) {
        (address.address().is_v6() ? version6 : version4).push_back(address);
    }
    std::vector<tcp::endpoint> ordered;
    ordered.reserve(addresses.size());
    for (std::size_t index = 0; index < std::max(version6.size(), version4.size()); ++index) {
        if (index < version6.size()) {
            ordered.push_back(version6[index]);
        }
        if (index < version4.size()) {
            ordered.push_back(version4[index]);
        }
    }
    return ordered;
}

asio::awaitable<std::error_code> UpstreamConnector::connect(tcp::socket& socket,
                                                            std::vector<tcp::endpoint> addresses,
                                                            ProxyDuration attemptDelay) {
    if (addresses.empty()) {
        co_return asio::error::host_not_found;
    }
    const auto race = std::make_shared<AttemptRace>(socket.get_executor(), attemptOrder(addresses));
    // However this coroutine ends (a winner, a cancellation, its frame destroyed), no attempt but
    // the winner is left open.
    const EndOfRace endOfRace{race};
    race->startNext();
    while (true) {
        if (auto winner = race->takeWinner()) {
            socket = std::move(*winner);
            co_return std::error_code();
        }
        const bool nextIsDue =
            race->owesAttempt() || Clock::now() >= race->lastStart() + attemptDelay;
        if (race->canStartMore() && nextIsDue) {
            race->startNext();
            continue;
        }
        if (!race->anyRunning()) {
            co_return race->lastError();
        }
        // Woken by an attempt that ends, by the time for the next one, or by a cancellation.
        race->wake().expires_at(race->canStartMore() ? race->lastStart() + attemptDelay
                                                     : asio::steady_timer::time_point::max());
        co_await race->wake().async_wait(asio::experimental::as_tuple(asio::use_awaitable));
        if ((co_await asio::this_coro::cancellation_state).cancelled() !=
            asio::cancellation_type::none) {
            co_return asio::error::operation_aborted;
        }
    }
}

} // namespace meterly::proxy
