#include "core/Time.hpp"

#include <chrono>

namespace meterly::core {

Date systemNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

} // namespace meterly::core
