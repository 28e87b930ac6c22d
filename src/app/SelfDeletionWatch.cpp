#include "app/SelfDeletionWatch.hpp"

#include <chrono>
#include <thread>
#include <utility>

namespace meterly::app {

SelfDeletionWatch::SelfDeletionWatch(std::string executablePath, Sleep sleep, FileExists fileExists)
    : executablePath_(std::move(executablePath)), sleep_(std::move(sleep)),
      fileExists_(std::move(fileExists)) {}

bool SelfDeletionWatch::isPresent() const {
    return !config::SelfCheck::executableMissing(executablePath_, fileExists_);
}

void SelfDeletionWatch::waitForDeletion() {
    int misses = 0;
    for (;;) {
        sleep_(checkInterval);
        if (isPresent()) {
            misses = 0;
            continue;
        }
        if (++misses < missesToConfirm) {
            continue;
        }
        sleep_(recheckDelay);
        if (isPresent()) {
            misses = 0;
            continue;
        }
        return;
    }
}

void SelfDeletionWatch::sleepSteadily(core::Seconds seconds) {
    // sleep_for runs on the steady clock and resumes after signals until the time has passed.
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

} // namespace meterly::app
