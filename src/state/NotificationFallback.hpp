#pragma once

#include <string>

namespace meterly::state {

// The way to show a notification when the centre is not used (a helper program). Shows at once;
// failures are ignored. Main executor only; never blocks.
class NotificationFallback {
public:
    virtual ~NotificationFallback() = default;
    virtual void show(const std::string& title, const std::string& body) = 0;
};

} // namespace meterly::state
