#include "config/JSONParser.hpp"

#include "core/AsciiText.hpp"
#include "core/UTF8.hpp"

#include <cstdint>
#include <utility>

namespace meterly::config {

JSONParseError::JSONParseError(std::string message, std::size_t offset)
    : message_(std::move(message)), offset_(offset),
      description_(message_ + " (at byte " + std::to_string(offset_) + ")") {}

namespace {

class Scanner {
public:
    explicit Scanner(std::string_view bytes) : bytes_(bytes) {}

    JSONValue document() {
        if (bytes_.size() >= 3 && bytes_.substr(0, 3) == "\xEF\xBB\xBF") {
            position_ = 3;
        }
        skipWhitespace();
        JSONValue value = parseValue(0);
        skipWhitespace();
        if (!atEnd()) {
            fail("unexpected trailing content after the top-level JSON value");
        }
        return value;
    }

private:
    [[noreturn]] void fail(std::string message) const { fail(std::move(message), position_); }
    [[noreturn]] static void fail(std::string message, std::size_t offset) {
        throw JSONParseError(std::move(message), offset);
    }

    bool atEnd() const { return position_ >= bytes_.size(); }
    char peek() const { return bytes_[position_]; }
    std::size_t remaining() const { return bytes_.size() - position_; }

    void skipWhitespace() {
        while (!atEnd()) {
            char c = peek();
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
                return;
            }
            ++position_;
        }
    }

    JSONValue parseValue(int depth) {
        if (depth > JSONParser::depthLimit) {
            fail("JSON nested deeper than " + std::to_string(JSONParser::depthLimit) + " levels");
        }
        if (atEnd()) {
            fail("unexpected end of input");
        }
        switch (peek()) {
        case 'n':
            expectLiteral("null");
            return JSONValue::null();
        case 't':
            expectLiteral("true");
            return JSONValue::boolean(true);
        case 'f':
            expectLiteral("false");
            return JSONValue::boolean(false);
        case '{':
            return parseObject(depth);
        case '[':
            return parseArray(depth);
        case '"':
            return JSONValue::string(parseString());
        default:
            return parseNumber();
        }
    }

    void expectLiteral(std::string_view literal) {
        if (bytes_.substr(position_, literal.size()) != literal) {
            fail("expected literal '" + std::string(literal) + "'");
        }
        position_ += literal.size();
    }

    JSONValue parseObject(int depth) {
        ++position_; // {
        skipWhitespace();
        JSONObject object;
        if (!atEnd() && peek() == '}') {
            ++position_;
            return JSONValue::object(std::move(object));
        }
        while (true) {
            skipWhitespace();
            if (atEnd() || peek() != '"') {
                fail("expected a quoted object key");
            }
            std::string key = parseString();
            if (object.contains(key)) {
                fail("duplicate object key '" + key + "'");
            }
            skipWhitespace();
            if (atEnd() || peek() != ':') {
                fail("expected ':' after object key '" + key + "'");
            }
            ++position_;
            skipWhitespace();
            JSONValue value = parseValue(depth + 1);
            object.set(std::move(key), std::move(value));
            skipWhitespace();
            if (atEnd()) {
                fail("unterminated object");
            }
            if (peek() == ',') {
                ++position_;
                skipWhitespace();
                continue;
            }
            if (peek() == '}') {
                ++position_;
                return JSONValue::object(std::move(object));
            }
            fail("expected ',' or '}' in object");
        }
    }

    JSONValue parseArray(int depth) {
        ++position_; // [
        skipWhitespace();
        JSONValue::Array elements;
        if (!atEnd() && peek() == ']') {
            ++position_;
            return JSONValue::array(std::move(elements));
        }
        while (true) {
            elements.push_back(parseValue(depth + 1));
            skipWhitespace();
            if (atEnd()) {
                fail("unterminated array");
            }
            if (peek() == ',') {
                ++position_;
                skipWhitespace();
                continue;
            }
            if (peek() == ']') {
                ++position_;
                return JSONValue::array(std::move(elements));
            }
            fail("expected ',' or ']' in array");
        }
    }

    std::string parseString() {
        ++position_; // opening quote
        std::string buffer;
        while (true) {
            if (atEnd()) {
                fail("unterminated string");
            }
            const auto byte = static_cast<std::uint8_t>(peek());
            if (byte == '"') {
                ++position_;
                return core::utf8::decodeLossy(buffer);
            }
            if (byte == '\\') {
                ++position_;
                parseEscape(buffer);
                continue;
            }
            if (byte < 0x20) {
                fail("unescaped control character in string");
            }
            buffer.push_back(static_cast<char>(byte));
            ++position_;
        }
    }

    void parseEscape(std::string& buffer) {
        if (atEnd()) {
            fail("unterminated escape sequence");
        }
        const char c = peek();
        ++position_;
        switch (c) {
        case '"':
        case '\\':
        case '/':
            buffer.push_back(c);
            return;
        case 'b':
            buffer.push_back('\b');
            return;
        case 'f':
            buffer.push_back('\f');
            return;
        case 'n':
            buffer.push_back('\n');
            return;
        case 'r':
            buffer.push_back('\r');
            return;
        case 't':
            buffer.push_back('\t');
            return;
        case 'u':
            parseUnicodeEscape(buffer);
            return;
        default:
            fail("unknown escape sequence");
        }
    }

    void parseUnicodeEscape(std::string& buffer) {
        const std::uint32_t unit = readHex4();
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            fail("lone low surrogate in \\u escape");
        }
        if (unit < 0xD800 || unit > 0xDFFF) {
            appendScalar(buffer, unit);
            return;
        }
        if (remaining() < 2 || bytes_[position_] != '\\' || bytes_[position_ + 1] != 'u') {
            fail("lone high surrogate in \\u escape");
        }
        position_ += 2;
        const std::uint32_t low = readHex4();
        if (low < 0xDC00 || low > 0xDFFF) {
            fail("invalid low surrogate in \\u escape");
        }
        appendScalar(buffer, 0x10000 + (unit - 0xD800) * 0x400 + (low - 0xDC00));
    }

    std::uint32_t readHex4() {
        if (remaining() < 4) {
            fail("truncated \\u escape");
        }
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = core::ascii::hexDigitValue(peek());
            if (digit < 0) {
                fail("non-hex digit in \\u escape");
            }
            value = value * 16 + static_cast<std::uint32_t>(digit);
            ++position_;
        }
        return value;
    }

    static void appendScalar(std::string& buffer, std::uint32_t scalar) {
        auto put = [&](std::uint32_t byte) { buffer.push_back(static_cast<char>(byte)); };
        if (scalar < 0x80) {
            put(scalar);
        } else if (scalar < 0x800) {
            put(0xC0 | (scalar >> 6));
            put(0x80 | (scalar & 0x3F));
        } else if (scalar < 0x10000) {
            put(0xE0 | (scalar >> 12));
            put(0x80 | ((scalar >> 6) & 0x3F));
            put(0x80 | (scalar & 0x3F));
        } else {
            put(0xF0 | (scalar >> 18));
            put(0x80 | ((scalar >> 12) & 0x3F));
            put(0x80 | ((scalar >> 6) & 0x3F));
            put(0x80 | (scalar & 0x3F));
        }
    }

    std::size_t skipDigits() {
        const std::size_t start = position_;
        while (!atEnd() && peek() >= '0' && peek() <= '9') {
            ++position_;
        }
        return position_ - start;
    }

    JSONValue parseNumber() {
        const std::size_t start = position_;
        if (peek() == '-') {
            ++position_;
        }
        const std::size_t firstDigit = position_;
        const std::size_t digits = skipDigits();
        if (digits == 0) {
            fail("expected a JSON value");
        }
        if (digits > 1 && bytes_[firstDigit] == '0') {
            fail("number has a leading zero");
        }
        if (!atEnd() && peek() == '.') {
            ++position_;
            if (skipDigits() == 0) {
                fail("expected digits after '.'");
            }
        }
        if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
            ++position_;
            if (!atEnd() && (peek() == '+' || peek() == '-')) {
                ++position_;
            }
            if (skipDigits() == 0) {
                fail("expected digits in exponent");
            }
        }
        return JSONValue::number(std::string(bytes_.substr(start, position_ - start)));
    }

    std::string_view bytes_;
    std::size_t position_ = 0;
};

} // namespace

JSONValue JSONParser::parse(std::string_view text) {
    return Scanner(text).document();
}

} // namespace meterly::config
