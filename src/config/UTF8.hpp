#pragma once

#include "core/UTF8.hpp"

#include <string>
#include <string_view>

namespace meterly::config::utf8 {

using core::utf8::isValid;

// The bytes with every ill-formed sequence replaced by U+FFFD (one per maximal invalid subpart).
std::string decodeLossy(std::string_view bytes);

// Whether well-formed UTF-8 text holds nothing but white space and line ends, in the full
// Unicode sense (spaces, tabs, line and paragraph separators, no-break spaces, and so on).
bool isBlank(std::string_view text);

} // namespace meterly::config::utf8
