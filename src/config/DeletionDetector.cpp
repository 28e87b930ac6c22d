#include "config/DeletionDetector.hpp"

namespace meterly::config {

DeletionDetector::Verdict DeletionDetector::record(bool executableMissing) {
    if (!executableMissing) {
        consecutiveMisses_ = 0;
        return Present{};
    }
    if (consecutiveMisses_ < requiredMisses_) {
        ++consecutiveMisses_;
    }
    if (consecutiveMisses_ >= requiredMisses_) {
        return ConfirmedDeleted{};
    }
    return Suspicious{consecutiveMisses_};
}

} // namespace meterly::config
