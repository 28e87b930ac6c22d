#include "ui/tray/TrayGauge.hpp"

#include "ui/widgets/Share.hpp"

namespace meterly::ui {

TrayGauge TrayGauge::present(const std::optional<core::LimitWindow>& window, bool isIdle) {
    if (!window || isIdle) {
        return {};
    }
    return {clampedShare(1 - window->utilization), !window->isAllowed()};
}

} // namespace meterly::ui
