// Feeds "name: value" lines to the rate-limit header parser and checks what it promises: a
// snapshot only with a complete window, numbers that are finite, texts copied unchanged.
#include "FuzzCheck.hpp"
#include "core/RateLimitHeaderParser.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using meterly::core::RateLimitHeaderParser;

namespace {

using meterly::fuzzing::check;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    RateLimitHeaderParser::Headers headers;
    while (!input.empty()) {
        auto end = input.find('\n');
        auto line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            // A bare line is tried as a number on its own.
            if (auto value = RateLimitHeaderParser::number(line)) {
                check(std::isfinite(*value));
            }
            continue;
        }
        auto value = line.substr(colon + 1);
        if (!value.empty() && value.front() == ' ') {
            value.remove_prefix(1);
        }
        headers[std::string(line.substr(0, colon))] = std::string(value);
    }

    auto snapshot = RateLimitHeaderParser::parse(headers, 1.5);
    if (!snapshot) {
        return 0;
    }
    check(snapshot->fiveHour || snapshot->sevenDay);
    check(snapshot->capturedAt == 1.5);
    for (const auto& window : {snapshot->fiveHour, snapshot->sevenDay}) {
        if (window) {
            check(std::isfinite(window->utilization) && std::isfinite(window->resetAt));
            double remaining = window->remainingFraction();
            check(remaining >= 0 && remaining <= 1);
        }
    }
    return 0;
}
