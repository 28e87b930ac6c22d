#pragma once

#include "config/JSONValue.hpp"

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace meterly::config {

// Why a text is not strict JSON: a message and the byte offset (from 0, a leading byte-order
// mark included) where the parser gave up. what() is "<message> (at byte <offset>)".
class JSONParseError : public std::exception {
public:
    JSONParseError(std::string message, std::size_t offset);

    const std::string& message() const { return message_; }
    std::size_t offset() const { return offset_; }
    const char* what() const noexcept override { return description_.c_str(); }

    bool operator==(const JSONParseError& other) const {
        return message_ == other.message_ && offset_ == other.offset_;
    }

private:
    std::string message_;
    std::size_t offset_;
    std::string description_;
};

// A strict JSON parser (RFC 8259 grammar, nothing more): duplicate keys are refused, nesting is
// limited to `depthLimit` levels, and numbers are kept as written.
struct JSONParser {
    static constexpr int depthLimit = 64;

    // The value of the whole document; throws JSONParseError on the first fault.
    static JSONValue parse(std::string_view text);
};

} // namespace meterly::config
