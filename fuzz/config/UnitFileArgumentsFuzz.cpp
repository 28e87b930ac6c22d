// Feeds arbitrary bytes to the reader of a systemd unit's command line. A command line it reads
// must come back unchanged from a unit written for it.
#include "config/SystemdUnitFile.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace meterly::config;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto arguments = SystemdUnitFile::programArguments(text);
    if (!arguments) {
        return 0;
    }
    if (arguments->empty()) {
        std::abort();
    }
    for (const auto& argument : *arguments) {
        if (argument.find('\0') != std::string::npos) {
            std::abort(); // no escape the reader accepts yields a NUL
        }
    }
    LaunchAgentSpec spec{"fuzz.agent", *arguments, true, true, {}};
    std::string unit;
    try {
        unit = SystemdUnitFile::render(spec);
    } catch (const UnitFileError&) {
        return 0; // a relative executable, which the writer refuses
    }
    if (SystemdUnitFile::programArguments(unit) != arguments) {
        std::abort();
    }
    return 0;
}
