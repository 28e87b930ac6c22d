// Feeds arbitrary text to the base-URL parsing that the settings inspection applies to
// env.ANTHROPIC_BASE_URL. Nothing may crash, and a loopback answer needs a parsed host.
#include "config/ClaudeSettingsFile.hpp"
#include "config/URLComponents.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace meterly::config;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto components = URLComponents::parse(text);
    const bool loopback = ClaudeSettingsFile::isLoopbackURL(text);
    if (loopback && (!components || !components->host)) {
        std::abort();
    }
    if (components && components->host && components->host->size() > size) {
        std::abort();
    }
    return 0;
}
