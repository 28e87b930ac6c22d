#pragma once

#include "config/JSONValue.hpp"

#include <string>

namespace meterly::config {

// Renders a value in one fixed layout: two spaces of indentation per level, one member or
// element per line, ": " after keys, "[]" and "{}" for empty containers, and a final line feed.
struct JSONWriter {
    static std::string string(const JSONValue& value);

private:
    static void write(const JSONValue& value, int indent, std::string& out);
    static void writeString(const std::string& text, std::string& out);
};

} // namespace meterly::config
