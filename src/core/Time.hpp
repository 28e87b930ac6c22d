#pragma once

#include <functional>

namespace meterly::core {

// Absolute times are seconds since 1970-01-01 00:00:00 UTC with a fractional part; spans are
// seconds. Both are doubles, as the rate-limit headers and the status document carry them.
using Date = double;
using Seconds = double;

// The current time, passed in wherever code needs it so that tests can fix it.
using Clock = std::function<Date()>;

// The wall clock.
Date systemNow();

} // namespace meterly::core
