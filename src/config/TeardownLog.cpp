#include "config/TeardownLog.hpp"

#include <cstdio>
#include <exception>
#include <string>

namespace meterly::config {

namespace {

std::string reasonOfCurrentException() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace

void TeardownLog::failed(std::string_view step) noexcept {
    try {
        const std::string line =
            "meterly: " + std::string(step) + " failed: " + reasonOfCurrentException() + "\n";
        std::fputs(line.c_str(), stderr);
    } catch (...) {
        // Nothing is left to tell.
    }
}

} // namespace meterly::config
