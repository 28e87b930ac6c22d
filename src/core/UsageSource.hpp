#pragma once

#include "core/AsyncStream.hpp"
#include "core/UsageSnapshot.hpp"
#include "core/UsageSourceEvent.hpp"

namespace meterly::core {

// Anything that produces usage readings. Every call of either function creates a new,
// independent stream.
class UsageSource {
public:
    virtual ~UsageSource() = default;

    virtual AsyncStream<UsageSnapshot> snapshots() = 0;

    // By default each snapshot of a new snapshots() stream arrives as a status event with a
    // request count of 0 and the snapshot's capture time as the time of the last request; the
    // events end when the snapshots do. A background task forwards them until either side stops.
    virtual AsyncStream<UsageSourceEvent> events();
};

} // namespace meterly::core
