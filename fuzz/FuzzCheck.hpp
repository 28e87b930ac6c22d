#pragma once

#include <cstdlib>

namespace meterly::fuzzing {

// Stops the run at a broken promise, so that libFuzzer keeps the input that broke it.
inline void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace meterly::fuzzing
