// Feeds arbitrary bodies to the status document reader: it must never fail, and whatever it
// reads back must be finite where it promises so.
#include "FuzzCheck.hpp"
#include "proxy/StatusClient.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using meterly::proxy::StatusClient;

namespace {

using meterly::fuzzing::check;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto report = StatusClient::decode(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!report) {
        return 0;
    }
    if (report->lastRequestAt) {
        check(std::isfinite(*report->lastRequestAt));
    }
    if (const auto& snapshot = report->snapshot) {
        check(std::isfinite(snapshot->capturedAt));
        for (const auto& window : {snapshot->fiveHour, snapshot->sevenDay}) {
            if (window) {
                check(std::isfinite(window->resetAt));
                double remaining = window->remainingFraction();
                check(remaining >= 0 && remaining <= 1);
            }
        }
    }
    return 0;
}
