#pragma once

#include "config/SelfCheck.hpp"
#include "core/Time.hpp"

#include <functional>
#include <string>

namespace meterly::app {

// Watches the proxy's own executable so that an agent whose application was deleted does not
// restart forever: a check every 20 s, and after the third miss in a row one more look 2 s later.
class SelfDeletionWatch {
public:
    // Sleeps on a monotonic clock; an interrupted sleep counts as ended.
    using Sleep = std::function<void(core::Seconds)>;
    using FileExists = config::SelfCheck::FileExists;

    static constexpr core::Seconds checkInterval = 20;
    static constexpr core::Seconds recheckDelay = 2;
    static constexpr int missesToConfirm = 3;

    SelfDeletionWatch(std::string executablePath, Sleep sleep, FileExists fileExists);

    // Returns once the executable, and the application bundle around it if it has one, is
    // confirmed gone. Runs for as long as it is present.
    void waitForDeletion();

    const std::string& executablePath() const { return executablePath_; }

    // Sleeps on the steady clock.
    static void sleepSteadily(core::Seconds seconds);

private:
    bool isPresent() const;

    std::string executablePath_;
    Sleep sleep_;
    FileExists fileExists_;
};

} // namespace meterly::app
