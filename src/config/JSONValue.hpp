#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace meterly::config {

class JSONValue;

// A JSON object that keeps its members in the order they were added. Setting an existing key
// keeps its place; a new key goes to the end. Two objects are equal only with the same members
// in the same order.
class JSONObject {
public:
    using Member = std::pair<std::string, JSONValue>;

    JSONObject();
    // Members in order; a key that comes again keeps its first place and takes the later value.
    explicit JSONObject(std::vector<Member> members);
    JSONObject(std::initializer_list<Member> members);

    // The member's value, or null when the key is not present.
    const JSONValue* get(std::string_view key) const;
    JSONValue* get(std::string_view key);
    void set(std::string key, JSONValue value);
    // Removes the member and returns its value; nothing when the key is not present.
    std::optional<JSONValue> removeValue(std::string_view key);
    bool contains(std::string_view key) const;

    std::vector<std::string> keys() const;
    std::size_t count() const;
    bool isEmpty() const;
    const std::vector<Member>& pairs() const;

    bool operator==(const JSONObject& other) const;

private:
    std::vector<Member> members_;
    std::map<std::string, std::size_t, std::less<>> index_; // key -> position in members_
};

// One JSON value. A number keeps the exact text it was written with, so 1 and 1.0 differ and a
// rewrite never changes its form or precision.
class JSONValue {
public:
    enum class Kind { boolean, number, string, array, object, null };
    using Array = std::vector<JSONValue>;

    JSONValue() = default; // null

    static JSONValue boolean(bool value);
    static JSONValue number(std::string text);
    static JSONValue string(std::string text);
    static JSONValue array(Array elements);
    static JSONValue object(JSONObject members);
    static JSONValue null() { return {}; }

    Kind kind() const { return static_cast<Kind>(storage_.index()); }

    // The payload of the matching kind, or null for every other kind.
    const std::string* stringValue() const;
    const JSONObject* objectValue() const;
    JSONObject* objectValue();
    const Array* arrayValue() const;
    const std::string* numberText() const;
    std::optional<bool> boolValue() const;

    bool operator==(const JSONValue& other) const { return storage_ == other.storage_; }

private:
    struct Number {
        std::string text;
        bool operator==(const Number&) const = default;
    };
    struct Null {
        bool operator==(const Null&) const = default;
    };

    std::variant<bool, Number, std::string, Array, JSONObject, Null> storage_{Null{}};
};

// Defined here, once JSONValue is complete.
inline std::size_t JSONObject::count() const {
    return members_.size();
}
inline bool JSONObject::isEmpty() const {
    return members_.empty();
}
inline const std::vector<JSONObject::Member>& JSONObject::pairs() const {
    return members_;
}

} // namespace meterly::config
