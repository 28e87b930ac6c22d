#include "config/JSONWriter.hpp"

#include <cstdint>

namespace meterly::config {

std::string JSONWriter::string(const JSONValue& value) {
    std::string out;
    write(value, 0, out);
    out.push_back('\n');
    return out;
}

void JSONWriter::write(const JSONValue& value, int indent, std::string& out) {
    const auto pad = [&out](int level) { out.append(static_cast<std::size_t>(2 * level), ' '); };
    switch (value.kind()) {
    case JSONValue::Kind::null:
        out.append("null");
        return;
    case JSONValue::Kind::boolean:
        out.append(*value.boolValue() ? "true" : "false");
        return;
    case JSONValue::Kind::number:
        out.append(*value.numberText());
        return;
    case JSONValue::Kind::string:
        writeString(*value.stringValue(), out);
        return;
    case JSONValue::Kind::array: {
        const auto& elements = *value.arrayValue();
        if (elements.empty()) {
            out.append("[]");
            return;
        }
        out.append("[\n");
        for (std::size_t i = 0; i < elements.size(); ++i) {
            pad(indent + 1);
            write(elements[i], indent + 1, out);
            out.append(i + 1 < elements.size() ? ",\n" : "\n");
        }
        pad(indent);
        out.push_back(']');
        return;
    }
    case JSONValue::Kind::object: {
        const auto& members = value.objectValue()->pairs();
        if (members.empty()) {
            out.append("{}");
            return;
        }
        out.append("{\n");
        for (std::size_t i = 0; i < members.size(); ++i) {
            pad(indent + 1);
            writeString(members[i].first, out);
            out.append(": ");
            write(members[i].second, indent + 1, out);
            out.append(i + 1 < members.size() ? ",\n" : "\n");
        }
        pad(indent);
        out.push_back('}');
        return;
    }
    }
}

void JSONWriter::writeString(const std::string& text, std::string& out) {
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        switch (c) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\b':
            out.append("\\b");
            break;
        case '\t':
            out.append("\\t");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\f':
            out.append("\\f");
            break;
        case '\r':
            out.append("\\r");
            break;
        default:
            if (byte < 0x20) {
                out.append("\\u00");
                out.push_back(hex[byte >> 4]);
                out.push_back(hex[byte & 0x0F]);
            } else {
                // Bytes of characters outside ASCII pass unchanged, as does the slash.
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
}

} // namespace meterly::config
