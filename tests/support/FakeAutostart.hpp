#pragma once

#include "state/Autostart.hpp"

#include <atomic>

namespace meterly::testing {

// An autostart switch that holds its state in memory; safe to call from a worker.
class FakeAutostart final : public state::Autostart {
public:
    explicit FakeAutostart(State initial = State::disabled) : state_(initial) {}

    State state() const override { return state_.load(); }
    Result setEnabled(bool enabled) const override {
        if (state_.load() != State::unavailable) {
            state_.store(enabled ? State::enabled : State::disabled);
        }
        return state_.load();
    }

private:
    mutable std::atomic<State> state_;
};

} // namespace meterly::testing
