#include "core/AsciiText.hpp"

namespace meterly::core::ascii {

std::string lowercased(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = lowered(c);
    }
    return out;
}

std::string uppercased(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = uppered(c);
    }
    return out;
}

} // namespace meterly::core::ascii
