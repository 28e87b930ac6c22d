#pragma once

#include <string>
#include <vector>

namespace meterly::testing {

// The null-terminated pointer array that exec and posix_spawn take; the texts must outlive it.
inline std::vector<char*> argumentPointers(const std::vector<std::string>& texts) {
    std::vector<char*> result;
    result.reserve(texts.size() + 1);
    for (const auto& text : texts) {
        result.push_back(const_cast<char*>(text.c_str()));
    }
    result.push_back(nullptr);
    return result;
}

} // namespace meterly::testing
