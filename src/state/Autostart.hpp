#pragma once

#include <string>
#include <variant>

namespace meterly::state {

// Whether the app opens at login, and the switch that turns it on and off. Both calls touch the
// disk: they run on a worker.
class Autostart {
public:
    enum class State {
        enabled,          // the app opens at login
        disabled,         // it does not
        requiresApproval, // the desktop waits for the user to allow it
        unavailable,      // this copy of the app cannot open at login
    };

    // A failure to turn it on or off: the sentence to show.
    struct Error {
        std::string message;
        bool operator==(const Error&) const = default;
    };
    using Result = std::variant<State, Error>;

    virtual ~Autostart() = default;

    virtual State state() const = 0;
    // Turns it on or off, then reads the state again.
    virtual Result setEnabled(bool enabled) const = 0;
};

} // namespace meterly::state
