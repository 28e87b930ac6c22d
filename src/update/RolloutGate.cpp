#include "update/RolloutGate.hpp"

#include <algorithm>
#include <random>

namespace meterly::update {

bool RolloutGate::isOpen(const UpdateInfo& info, double bucket, core::Date now) {
    if (info.critical.value_or(false)) {
        return true;
    }
    // NaN is not greater than 0 either.
    if (!info.rolloutPhaseHours || !(*info.rolloutPhaseHours > 0)) {
        return true;
    }
    auto start = info.rolloutStart();
    if (!start) {
        return true;
    }
    double clamped = bucket;
    if (!(clamped > 0)) {
        clamped = 0;
    } else if (clamped > 1) {
        clamped = 1;
    }
    const double delay = clamped * *info.rolloutPhaseHours * 3600;
    return now >= *start + delay;
}

double RolloutGate::newBucket() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_real_distribution<double> distribution(0.0, 1.0);
    double value = distribution(generator);
    // The distribution may round up to 1 on some libraries; the bucket never reaches it.
    return value < 1.0 ? value : 0.0;
}

} // namespace meterly::update
