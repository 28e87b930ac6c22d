#pragma once

#include <variant>

namespace meterly::config {

// Declares the executable deleted only after `requiredMisses` misses in a row; a hit starts the
// count afresh.
class DeletionDetector {
public:
    struct Present {
        bool operator==(const Present&) const = default;
    };
    struct Suspicious {
        int misses = 0;
        bool operator==(const Suspicious&) const = default;
    };
    struct ConfirmedDeleted {
        bool operator==(const ConfirmedDeleted&) const = default;
    };
    using Verdict = std::variant<Suspicious, Present, ConfirmedDeleted>;

    explicit DeletionDetector(int requiredMisses) : requiredMisses_(requiredMisses) {}

    int requiredMisses() const { return requiredMisses_; }

    // A confirmation does not reset the count: further misses stay confirmed until a hit.
    Verdict record(bool executableMissing);

    bool operator==(const DeletionDetector&) const = default;

private:
    int requiredMisses_;
    int consecutiveMisses_ = 0;
};

} // namespace meterly::config
