#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace meterly::state {

// Keeps one observer connected; disconnects it when destroyed or reset. It may outlive the
// signal it came from.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> disconnect) : disconnect_(std::move(disconnect)) {}
    ~Subscription() { reset(); }
    Subscription(Subscription&& other) noexcept
        : disconnect_(std::exchange(other.disconnect_, {})) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            disconnect_ = std::exchange(other.disconnect_, {});
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    void reset() {
        if (disconnect_) {
            std::exchange(disconnect_, {})();
        }
    }

private:
    std::function<void()> disconnect_;
};

// A list of observers called one after another on emit(). Single-threaded: it belongs to the main
// executor like the models that own it. An observer may connect or disconnect others (itself
// included) while it runs; one connected during an emission is first called by the next one.
template <typename... Args>
class Signal {
public:
    using Slot = std::function<void(const Args&...)>;

    Signal() : slots_(std::make_shared<Slots>()) {}
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    [[nodiscard]] Subscription connect(Slot slot) {
        const auto id = slots_->next++;
        slots_->entries.emplace(id, std::make_shared<Slot>(std::move(slot)));
        return Subscription([weak = std::weak_ptr<Slots>(slots_), id] {
            if (auto slots = weak.lock()) {
                slots->entries.erase(id);
            }
        });
    }

    void emit(const Args&... args) const {
        // A copy of the list, so that observers can change it while they run.
        const auto entries = slots_->entries;
        const auto slots = slots_;
        for (const auto& [id, slot] : entries) {
            if (slots->entries.contains(id)) {
                (*slot)(args...);
            }
        }
    }

    bool empty() const { return slots_->entries.empty(); }

private:
    struct Slots {
        std::uint64_t next = 0;
        std::map<std::uint64_t, std::shared_ptr<Slot>> entries;
    };
    std::shared_ptr<Slots> slots_;
};

// The "something in this model changed" signal that views observe to redraw.
using ChangeSignal = Signal<>;

} // namespace meterly::state
