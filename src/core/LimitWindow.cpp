#include "core/LimitWindow.hpp"

#include <algorithm>

namespace meterly::core {

double LimitWindow::remainingFraction() const {
    double remaining = 1 - utilization;
    // Written so that a remaining fraction that is not a number falls to 0.
    if (remaining >= 0) {
        return std::min(remaining, 1.0);
    }
    return 0;
}

bool LimitWindow::isAllowed() const {
    return status == "allowed";
}

Seconds LimitWindow::timeRemaining(Date now) const {
    Seconds left = resetAt - now;
    return left >= 0 ? left : 0;
}

} // namespace meterly::core
