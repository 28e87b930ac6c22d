// Feeds arbitrary bytes to the reader of a property list's "ProgramArguments".
#include "config/LaunchAgentSpec.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace meterly::config;
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)programArgumentsOfPropertyList(bytes);
    return 0;
}
