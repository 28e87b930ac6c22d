// Feeds arbitrary bytes to the settings file's JSON parser. Whatever parses must survive a
// write and a second parse unchanged, and the writer's output must be stable.
#include "config/JSONParser.hpp"
#include "config/JSONWriter.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace meterly::config;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    JSONValue first;
    try {
        first = JSONParser::parse(text);
    } catch (const JSONParseError& error) {
        if (error.offset() > size) {
            std::abort();
        }
        return 0;
    }
    const std::string written = JSONWriter::string(first);
    JSONValue second;
    try {
        second = JSONParser::parse(written);
    } catch (const JSONParseError&) {
        std::abort();
    }
    if (!(first == second) || JSONWriter::string(second) != written) {
        std::abort();
    }
    return 0;
}
