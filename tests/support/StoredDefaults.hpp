#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace meterly::testing {

// An integer the app keeps in its preferences file under `home` (what a separate app process
// wrote); none while the file, the key or an integer there is missing.
inline std::optional<std::int64_t> storedInteger(const std::filesystem::path& home,
                                                 const std::string& key) {
    std::ifstream in(home / ".config/meterly/defaults.json");
    if (!in) {
        return std::nullopt;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        return std::nullopt;
    }
    const auto found = document.find(key);
    if (found == document.end() || !found->is_number_integer()) {
        return std::nullopt;
    }
    return found->get<std::int64_t>();
}

} // namespace meterly::testing
