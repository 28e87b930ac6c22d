#pragma once

#include "state/ChangeSignal.hpp"

#include <utility>

namespace meterly::state {

// One stored property of an observable model. set() stores a value and notifies its observers,
// then the model's change signal, only when the new value differs from the stored one; an equal
// assignment is stored silently.
template <typename T>
class Observable {
public:
    explicit Observable(T initial = T{}, ChangeSignal* model = nullptr)
        : value_(std::move(initial)), model_(model) {}
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    const T& get() const { return value_; }
    const T& operator*() const { return value_; }
    const T* operator->() const { return &value_; }

    // Stores `value`; returns whether it differed (and so whether observers were told).
    bool set(T value) {
        if (value_ == value) {
            return false;
        }
        value_ = std::move(value);
        notify();
        return true;
    }

    // Stores `value` and notifies whether or not it differed.
    void setAlwaysNotifying(T value) {
        value_ = std::move(value);
        notify();
    }

    [[nodiscard]] Subscription observe(typename Signal<T>::Slot observer) {
        return changed_.connect(std::move(observer));
    }

private:
    void notify() {
        changed_.emit(value_);
        if (model_ != nullptr) {
            model_->emit();
        }
    }

    T value_;
    ChangeSignal* model_;
    Signal<T> changed_;
};

} // namespace meterly::state
