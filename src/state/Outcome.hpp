#pragma once

#include <exception>
#include <utility>
#include <variant>

namespace meterly::state {

// The result of blocking work done elsewhere: its value, or the exception it threw.
template <typename T>
class Outcome {
public:
    static Outcome success(T value) { return Outcome(std::move(value)); }
    static Outcome failure(std::exception_ptr error) { return Outcome(error); }

    bool ok() const { return std::holds_alternative<T>(state_); }
    std::exception_ptr error() const {
        return ok() ? nullptr : std::get<std::exception_ptr>(state_);
    }
    // The value; rethrows the work's exception when it failed.
    T& get() {
        if (!ok()) {
            std::rethrow_exception(std::get<std::exception_ptr>(state_));
        }
        return std::get<T>(state_);
    }

private:
    explicit Outcome(T value) : state_(std::move(value)) {}
    explicit Outcome(std::exception_ptr error) : state_(error) {}
    std::variant<T, std::exception_ptr> state_;
};

} // namespace meterly::state
